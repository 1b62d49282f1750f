// Splits input into lines ending in "\n" (a "\r" before it is dropped), holding at most
// `max_line_bytes` of a line: a longer one is read to its end and dropped, never held whole.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "mcp/byte_streams.h"

namespace mcp {

enum class LineStatus {
    kLine,     // `line` holds the next line, valid until the next call
    kTooLong,  // a line longer than max_line_bytes was skipped
    kEnd,      // the input has ended
};

class LineReader {
public:
    LineReader(ByteInput& input, std::size_t max_line_bytes);

    LineStatus Next(std::string_view& line);

    // The most bytes ever held at once: the line so far and a chunk read.
    std::size_t PeakHeldBytes() const { return peak_held_; }

private:
    bool Fill();  // reads the next chunk; false at the end

    ByteInput& input_;
    const std::size_t max_line_bytes_;
    std::vector<char> chunk_;
    std::vector<char> line_;  // grown by hand: never past max_line_bytes + 1
    std::size_t chunk_begin_ = 0;
    std::size_t chunk_end_ = 0;
    std::size_t peak_held_ = 0;
};

}  // namespace mcp
