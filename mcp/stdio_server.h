// The stdio transport: newline-delimited JSON-RPC messages in, one message a line out, one
// session over them. Only protocol messages go to the output; notes go to the diagnostics.
#pragma once

#include <cstddef>

#include "mcp/byte_streams.h"
#include "mcp/message_parse.h"
#include "mcp/outbox.h"
#include "mcp/session.h"
#include "mcp/tool_host.h"

namespace mcp {

struct StdioOptions {
    SessionOptions session;
    std::size_t max_line_bytes = 1024 * 1024;  // a longer line is answered with an error, skipped
    std::size_t max_depth = kDefaultMaxDepth;  // of arrays and objects in one message
};

class StdioServer {
public:
    StdioServer(ToolHost& host, ByteInput& input, ByteOutput& output, Diagnostics& diagnostics,
                StdioOptions options);

    // Serves until the input ends: then nothing new starts, every running call is stopped and
    // waited for, and it returns 0. Returns 1 when the output broke (the client was lost).
    int Run();

    // The most input bytes held at once so far.
    std::size_t PeakHeldBytes() const;

private:
    ToolHost& host_;
    ByteInput& input_;
    ByteOutput& output_;
    Diagnostics& diagnostics_;
    const StdioOptions options_;
    std::size_t peak_held_ = 0;
};

}  // namespace mcp
