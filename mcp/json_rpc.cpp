#include "mcp/json_rpc.h"

#include <utility>

namespace mcp {

bool IsUsableId(const nlohmann::json& id) {
    return id.is_string() || id.is_number_integer();  // is_number_integer holds unsigned too
}

nlohmann::ordered_json ErrorResponse(const nlohmann::json& id, const RpcError& error) {
    nlohmann::ordered_json message;
    message["jsonrpc"] = "2.0";
    message["id"] = nlohmann::ordered_json(id);
    message["error"]["code"] = error.code;
    message["error"]["message"] = error.message;
    return message;
}

nlohmann::ordered_json ResultResponse(const nlohmann::json& id, nlohmann::ordered_json result) {
    nlohmann::ordered_json message;
    message["jsonrpc"] = "2.0";
    message["id"] = nlohmann::ordered_json(id);
    message["result"] = std::move(result);
    return message;
}

nlohmann::ordered_json NotificationMessage(std::string_view method, nlohmann::ordered_json params) {
    nlohmann::ordered_json message;
    message["jsonrpc"] = "2.0";
    message["method"] = method;
    message["params"] = std::move(params);
    return message;
}

nlohmann::ordered_json TextToolResult(std::string_view text, bool is_error) {
    nlohmann::ordered_json item;
    item["type"] = "text";
    item["text"] = text;
    nlohmann::ordered_json result;
    result["content"] = nlohmann::ordered_json::array({item});
    result["isError"] = is_error;
    return result;
}

}  // namespace mcp
