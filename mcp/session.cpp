#include "mcp/session.h"

#include <exception>
#include <string_view>
#include <utility>

#include "mcp/json_rpc.h"
#include "mcp/log_level.h"
#include "mcp/protocol_version.h"

namespace mcp {
namespace {

// A name from the client, cut short for an error message.
std::string Quoted(const std::string& name) {
    constexpr std::size_t kMost = 100;
    return "\"" + (name.size() > kMost ? name.substr(0, kMost) + "..." : name) + "\"";
}

bool IsServedMethod(std::string_view method) {
    return method == "tools/list" || method == "tools/call" || method == "logging/setLevel";
}

}  // namespace

Session::Session(ToolHost& host, Outbox& outbox, Diagnostics& diagnostics, SessionOptions options)
    : host_(host),
      outbox_(outbox),
      diagnostics_(diagnostics),
      options_(std::move(options)),
      calls_(host, outbox, diagnostics, log_level_, options_.max_calls) {}

void Session::SendError(const nlohmann::json& id, int code, std::string message) {
    outbox_.Send(ErrorResponse(id, {code, std::move(message)}));
}

void Session::Receive(const nlohmann::json& message) {
    using rpc_error::kInvalidRequest;
    if (message.is_array())
        return SendError(nullptr, kInvalidRequest,
                         "Invalid request: batches are not taken (gone since 2025-06-18); send "
                         "one message at a time");
    if (!message.is_object())
        return SendError(nullptr, kInvalidRequest, "Invalid request: a message is a JSON object");
    const auto id_field = message.find("id");
    const bool has_id = id_field != message.end();
    const nlohmann::json id = has_id && IsUsableId(*id_field) ? *id_field : nlohmann::json();
    const auto version = message.find("jsonrpc");
    const bool version_ok = version != message.end() && *version == "2.0";
    const auto method = message.find("method");
    if (method == message.end()) {
        if (version_ok && has_id && (message.contains("result") || message.contains("error"))) {
            diagnostics_.Note("ignored a response: this server sends no requests");
            return;
        }
        return SendError(id, kInvalidRequest, "Invalid request: no method");
    }
    if (!version_ok)
        return SendError(id, kInvalidRequest, "Invalid request: jsonrpc is not \"2.0\"");
    if (!method->is_string())
        return SendError(id, kInvalidRequest, "Invalid request: method is not a string");
    if (has_id && id.is_null())
        return SendError(nullptr, kInvalidRequest,
                         "Invalid request: id is not a string or an integer of at most 64 bits");
    const auto params = message.find("params");
    const nlohmann::json no_params = nlohmann::json::object();
    if (params != message.end() && !params->is_object()) {
        if (!has_id) {
            diagnostics_.Note("ignored notification " + method->get<std::string>() +
                              ": params is not an object");
            return;
        }
        return SendError(id, rpc_error::kInvalidParams, "Invalid params: params is not an object");
    }
    const nlohmann::json& params_object = params == message.end() ? no_params : *params;
    try {
        if (has_id)
            ReceiveRequest(id, method->get<std::string>(), params_object);
        else
            ReceiveNotification(method->get<std::string>(), params_object);
    } catch (const std::exception& error) {
        diagnostics_.Note(std::string("request failed: ") + error.what());
        if (has_id)
            SendError(id, rpc_error::kInternalError,
                      std::string("Internal error: ") + error.what());
    }
}

void Session::ReceiveRequest(const nlohmann::json& id, const std::string& method,
                             const nlohmann::json& params) {
    if (method == "initialize") return Initialize(id, params);
    if (method == "ping") return outbox_.Send(ResultResponse(id, nlohmann::ordered_json::object()));
    if (!IsServedMethod(method))
        return SendError(id, rpc_error::kMethodNotFound, "Method not found: " + Quoted(method));
    if (!initialized_)
        return SendError(id, rpc_error::kInvalidRequest,
                         "Invalid request: the session is not initialized; send initialize first");
    if (method == "tools/list") return ListTools(id);
    if (method == "tools/call") return CallTool(id, params);
    SetLogLevel(id, params);
}

void Session::ReceiveNotification(const std::string& method, const nlohmann::json& params) {
    if (method == "notifications/initialized") return;
    if (method == "notifications/cancelled") {
        const auto request = params.find("requestId");
        if (request != params.end() && IsUsableId(*request)) calls_.Cancel(*request);
        return;
    }
    diagnostics_.Note("ignored notification " + Quoted(method));
}

void Session::Initialize(const nlohmann::json& id, const nlohmann::json& params) {
    if (initialized_)
        return SendError(id, rpc_error::kInvalidRequest,
                         "Invalid request: the session is initialized already");
    const auto requested = params.find("protocolVersion");
    if (requested == params.end() || !requested->is_string())
        return SendError(id, rpc_error::kInvalidParams,
                         "Invalid params: protocolVersion is not a string");
    nlohmann::ordered_json result;
    result["protocolVersion"] = NegotiateProtocolVersion(requested->get<std::string>());
    result["capabilities"]["logging"] = nlohmann::ordered_json::object();
    result["capabilities"]["tools"] = nlohmann::ordered_json::object();
    result["serverInfo"]["name"] = options_.server_name;
    result["serverInfo"]["version"] = options_.server_version;
    initialized_ = true;
    outbox_.Send(ResultResponse(id, std::move(result)));
}

void Session::SetLogLevel(const nlohmann::json& id, const nlohmann::json& params) {
    const auto level = params.find("level");
    const auto parsed = level != params.end() && level->is_string()
                            ? ParseLogLevel(level->get<std::string>())
                            : std::nullopt;
    if (!parsed)
        return SendError(id, rpc_error::kInvalidParams,
                         "Invalid params: level is not one of debug, info, notice, warning, "
                         "error, critical, alert, emergency");
    log_level_ = static_cast<int>(*parsed);
    outbox_.Send(ResultResponse(id, nlohmann::ordered_json::object()));
}

void Session::ListTools(const nlohmann::json& id) {
    nlohmann::ordered_json tools = host_.ListTools();
    if (!tools.is_array())
        return SendError(id, rpc_error::kInternalError, "Internal error: no list of tools");
    nlohmann::ordered_json result;
    result["tools"] = std::move(tools);
    outbox_.Send(ResultResponse(id, std::move(result)));
}

void Session::CallTool(const nlohmann::json& id, const nlohmann::json& params) {
    using rpc_error::kInvalidParams;
    const auto name = params.find("name");
    if (name == params.end() || !name->is_string())
        return SendError(id, kInvalidParams, "Invalid params: name is not a string");
    const std::string tool = name->get<std::string>();
    if (!host_.HasTool(tool)) return SendError(id, kInvalidParams, "Unknown tool: " + Quoted(tool));
    const auto arguments = params.find("arguments");
    if (arguments != params.end() && !arguments->is_object())
        return SendError(id, kInvalidParams, "Invalid params: arguments is not an object");
    std::optional<nlohmann::json> progress_token;
    const auto meta = params.find("_meta");
    if (meta != params.end() && meta->is_object()) {
        const auto token = meta->find("progressToken");
        if (token != meta->end()) {
            if (!IsUsableId(*token))
                return SendError(id, kInvalidParams,
                                 "Invalid params: progressToken is not a string or an integer");
            progress_token = *token;
        }
    }
    switch (calls_.Start(id, tool,
                         arguments == params.end() ? nlohmann::json::object() : *arguments,
                         std::move(progress_token))) {
        case StartOutcome::kStarted:
            return;
        case StartOutcome::kBusy:
            return outbox_.Send(ResultResponse(
                id, TextToolResult("busy: " + std::to_string(calls_.MaxCalls()) +
                                       " calls are running, the most this server runs at once; "
                                       "call again when one has ended",
                                   true)));
        case StartOutcome::kIdInUse:
            return SendError(id, rpc_error::kInvalidRequest,
                             "Invalid request: a call with this id is still running");
        case StartOutcome::kClosed:
            return outbox_.Send(ResultResponse(
                id, TextToolResult("the server is ending: no new call starts", true)));
        case StartOutcome::kNoThread:
            return outbox_.Send(ResultResponse(
                id, TextToolResult("the call was not started: the system gave no thread", true)));
    }
}

}  // namespace mcp
