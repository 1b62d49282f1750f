// JSON-RPC 2.0 messages as the server sends them.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace mcp {

namespace rpc_error {
constexpr int kParseError = -32700;
constexpr int kInvalidRequest = -32600;
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidParams = -32602;
constexpr int kInternalError = -32603;
}  // namespace rpc_error

struct RpcError {
    int code;
    std::string message;
};

// A request id this server answers: a string or an integer (a null, a fraction, or a whole
// number beyond 64 bits could not be sent back as it came).
bool IsUsableId(const nlohmann::json& id);

nlohmann::ordered_json ErrorResponse(const nlohmann::json& id, const RpcError& error);
nlohmann::ordered_json ResultResponse(const nlohmann::json& id, nlohmann::ordered_json result);
nlohmann::ordered_json NotificationMessage(std::string_view method, nlohmann::ordered_json params);

// A CallToolResult with one text item.
nlohmann::ordered_json TextToolResult(std::string_view text, bool is_error);

}  // namespace mcp
