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

LineStatus LineReader::Next(std::string_view& line) {
    line = {};
    line_.clear();
    const std::size_t most = max_line_bytes_ + 1;  // a "\r" may come before the "\n"
    bool too_long = false;
    bool begun = false;
    for (;;) {
        if (chunk_begin_ == chunk_end_ && !Fill()) {
            if (too_long) return LineStatus::kTooLong;
            if (begun && !line_.empty()) break;  // a last line without "\n"
            return LineStatus::kEnd;
        }
        begun = true;
        const char* begin = chunk_.data() + chunk_begin_;
        const std::size_t left = chunk_end_ - chunk_begin_;
        const void* newline = std::memchr(begin, '\n', left);
        const std::size_t take = newline ? static_cast<const char*>(newline) - begin : left;
        if (!too_long && line_.size() + take > most) {
            too_long = true;
            line_.clear();
        }
        if (!too_long) {
            if (line_.size() + take > line_.capacity())
                line_.reserve(std::min(most, std::max(2 * line_.capacity(), line_.size() + take)));
            line_.insert(line_.end(), begin, begin + take);
        }
        peak_held_ = std::max(peak_held_, line_.capacity() + chunk_.size());
        chunk_begin_ += newline ? take + 1 : take;
        if (newline) {
            if (too_long) return LineStatus::kTooLong;
            break;
        }
    }
    std::size_t size = line_.size();
    if (size > 0 && line_[size - 1] == '\r') --size;
    if (size > max_line_bytes_) return LineStatus::kTooLong;
    line = std::string_view(line_.data(), size);
    return LineStatus::kLine;
}

}  // namespace mcp
