// The two ends of the stdio transport, behind interfaces so tests use fake streams.
#pragma once

#include <cstddef>
#include <string_view>

namespace mcp {

class ByteInput {
public:
    virtual ~ByteInput() = default;
    // Blocks until some bytes came; 0 when the input has ended (or failed).
    virtual std::size_t Read(char* buffer, std::size_t size) = 0;
};

class ByteOutput {
public:
    virtual ~ByteOutput() = default;
    // Writes all of `bytes` (and flushes); false when the output is broken.
    virtual bool Write(std::string_view bytes) = 0;
};

}  // namespace mcp
