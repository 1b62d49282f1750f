// Splits input into lines ending in "\n" (a "\r" before it is dropped), holding at most
// `max_line_bytes` of a line: a longer one is read to its end and dropped, never held whole.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "mcp/byte_streams.h"

namespace mcp {

enum class LineStatus {
    kLine,     // `line` holds the next line
    kTooLong,  // a line longer than max_line_bytes was skipped
    kEnd,      // the input has ended
};

class LineReader {
public:
    LineReader(ByteInput& input, std::size_t max_line_bytes);

    LineStatus Next(std::string& line);

    // The most bytes ever held at once (the line so far and the unread rest of a chunk).
    std::size_t PeakHeldBytes() const { return peak_held_; }

private:
    bool Fill();  // reads the next chunk; false at the end

    ByteInput& input_;
    const std::size_t max_line_bytes_;
    std::vector<char> chunk_;
    std::size_t chunk_begin_ = 0;
    std::size_t chunk_end_ = 0;
    std::size_t peak_held_ = 0;
};

}  // namespace mcp
