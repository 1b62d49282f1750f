#include "mcp/stdio_server.h"

#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "mcp/json_rpc.h"
#include "mcp/line_outbox.h"
#include "mcp/line_reader.h"

namespace mcp {

StdioServer::StdioServer(ToolHost& host, ByteInput& input, ByteOutput& output,
                         Diagnostics& diagnostics, StdioOptions options)
    : host_(host),
      input_(input),
      output_(output),
      diagnostics_(diagnostics),
      options_(std::move(options)) {}

int StdioServer::Run() {
    LineOutbox outbox(output_, diagnostics_);
    Session session(host_, outbox, diagnostics_, options_.session);
    LineReader reader(input_, options_.max_line_bytes);
    std::string_view line;
    for (;;) {
        const LineStatus status = reader.Next(line);
        peak_held_ = reader.PeakHeldBytes();
        if (status == LineStatus::kEnd) break;
        if (status == LineStatus::kTooLong) {
            outbox.Send(ErrorResponse(
                nullptr, {rpc_error::kInvalidRequest, "Invalid request: the line is longer than " +
                                                          std::to_string(options_.max_line_bytes) +
                                                          " bytes and was skipped"}));
        } else if (line.find_first_not_of(" \t") != std::string::npos) {  // blank lines are skipped
            auto parsed = ParseMessage(line, options_.max_depth);
            if (auto* error = std::get_if<RpcError>(&parsed))
                outbox.Send(ErrorResponse(nullptr, *error));
            else
                session.Receive(std::get<nlohmann::json>(parsed));
        }
        if (outbox.Broken()) break;
    }
    session.Close();
    return outbox.Broken() ? 1 : 0;
}

std::size_t StdioServer::PeakHeldBytes() const {
    return peak_held_;
}

}  // namespace mcp
