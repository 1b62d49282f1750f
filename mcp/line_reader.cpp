#include "mcp/line_reader.h"

#include <algorithm>
#include <cstring>

namespace mcp {
namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

}  // namespace

LineReader::LineReader(ByteInput& input, std::size_t max_line_bytes)
    : input_(input), max_line_bytes_(max_line_bytes), chunk_(kChunkBytes) {}

bool LineReader::Fill() {
    chunk_begin_ = 0;
    chunk_end_ = input_.Read(chunk_.data(), chunk_.size());
    return chunk_end_ > 0;
}

LineStatus LineReader::Next(std::string& line) {
    line.clear();
    bool too_long = false;
    bool any = false;  // whether a line was begun
    for (;;) {
        if (chunk_begin_ == chunk_end_ && !Fill()) {
            if (too_long) return LineStatus::kTooLong;
            if (any && !line.empty()) break;  // a last line without "\n"
            return LineStatus::kEnd;
        }
        any = true;
        const char* begin = chunk_.data() + chunk_begin_;
        const std::size_t left = chunk_end_ - chunk_begin_;
        const void* newline = std::memchr(begin, '\n', left);
        const std::size_t take = newline ? static_cast<const char*>(newline) - begin : left;
        if (!too_long) {
            if (line.size() + take > max_line_bytes_ + 1) {  // +1: a "\r" before the "\n"
                too_long = true;
                line.clear();
                line.shrink_to_fit();
            } else {
                // Grows by doubling, but never past the longest line taken.
                if (line.size() + take > line.capacity())
                    line.reserve(std::min(max_line_bytes_ + 1,
                                          std::max(2 * line.capacity(), line.size() + take)));
                line.append(begin, take);
            }
        }
        peak_held_ = std::max(peak_held_, line.capacity() + chunk_.size());
        chunk_begin_ += newline ? take + 1 : take;
        if (newline) {
            if (too_long) return LineStatus::kTooLong;
            break;
        }
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > max_line_bytes_) {
        line.clear();
        return LineStatus::kTooLong;
    }
    return LineStatus::kLine;
}

}  // namespace mcp
