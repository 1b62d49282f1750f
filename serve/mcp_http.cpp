#include "serve/mcp_http.h"

#include <optional>
#include <utility>
#include <variant>

#include "mcp/json_rpc.h"
#include "mcp/message_parse.h"

namespace serve {
namespace {

// Keeps the one answer an exchange gives at once, for the POST to send as it decides.
class HeldStream : public McpStream {
public:
    void Answer(const HttpAnswer& answer) override { held = answer; }
    void Begin(const HeaderList&) override {}
    void Event(const std::string&) override {}
    void End() override {}
    std::optional<HttpAnswer> held;
};

HttpAnswer ErrorAnswer(int status, const mcp::RpcError& error) {
    HttpAnswer answer;
    answer.status = status;
    answer.headers.emplace_back("Content-Type", "application/json");
    answer.body = mcp::ErrorResponse(nullptr, error).dump();
    return answer;
}

// The codes MCP's servers give a refusal of the transport, outside JSON-RPC's own.
constexpr int kTransportError = -32000;

}  // namespace

HttpAnswer McpRefusal(int status, const std::string& message) {
    return ErrorAnswer(status, {kTransportError, message});
}

McpHttp::McpHttp(mcp::ToolHost& host, mcp::Diagnostics& diagnostics, RandomSource& random,
                 McpHttpSettings settings)
    : host_(host),
      diagnostics_(diagnostics),
      settings_(std::move(settings)),
      table_(settings_.limits, random, [this](std::string id) {
          return std::make_shared<McpHttpSession>(std::move(id), host_, diagnostics_,
                                                  settings_.session, settings_.now());
      }) {}

void McpHttp::Retire(std::vector<std::shared_ptr<McpHttpSession>> ended) {
    if (ended.empty()) return;
    {
        std::lock_guard lock(mutex_);
        ++retiring_;
    }
    auto work = [this, ended = std::move(ended)]() mutable {
        for (auto& session : ended) session->End();
        ended.clear();
        std::lock_guard lock(mutex_);
        --retiring_;
        retired_.notify_all();
    };
    if (settings_.run_apart)
        settings_.run_apart(std::move(work));
    else
        work();
}

void McpHttp::EndAll() {
    Retire(table_.RemoveAll());
    std::unique_lock lock(mutex_);
    retired_.wait(lock, [this] { return retiring_ == 0; });
}

McpPostHandle McpHttp::Post(const RequestHead& head, const std::string& body,
                            const std::shared_ptr<McpStream>& stream, std::string* verdict) {
    auto parsed = mcp::ParseMessage(body, mcp::kDefaultMaxDepth);
    if (auto* error = std::get_if<mcp::RpcError>(&parsed)) {
        *verdict = "no JSON-RPC message";
        stream->Answer(ErrorAnswer(400, *error));
        return McpPostHandle();
    }
    const nlohmann::json& message = std::get<nlohmann::json>(parsed);
    const bool is_object = message.is_object();
    const auto method = is_object ? message.find("method") : message.end();
    const bool has_method = is_object && method != message.end() && method->is_string();
    const auto id = is_object ? message.find("id") : message.end();
    const bool is_request = has_method && id != message.end() && mcp::IsUsableId(*id);
    const bool is_initialize = is_request && *method == "initialize";

    std::vector<std::shared_ptr<McpHttpSession>> ended;
    std::shared_ptr<McpHttpSession> session;
    const std::optional<std::string_view> session_id = head.headers.Find(kSessionHeader);
    if (!session_id) {
        if (!is_initialize) {
            *verdict = "no session";
            stream->Answer(McpRefusal(400,
                                      "Bad Request: no Mcp-Session-Id header; a session "
                                      "begins with initialize"));
            return McpPostHandle();
        }
        session = table_.Create(settings_.now(), &ended);
        Retire(std::move(ended));
        if (!session) {
            *verdict = "sessions full";
            stream->Answer(McpRefusal(
                503, "Service Unavailable: " + std::to_string(table_.Limits().max_sessions) +
                         " sessions are open, the most this server holds (--max-sessions); end "
                         "one with DELETE /mcp, or wait until one has been idle for " +
                         std::to_string(table_.Limits().idle_seconds) + " seconds"));
            return McpPostHandle();
        }
    } else {
        session = table_.Find(*session_id, settings_.now(), &ended);
        Retire(std::move(ended));
        if (!session) {
            *verdict = "unknown session";
            stream->Answer(McpRefusal(404,
                                      "Not Found: no session has this Mcp-Session-Id (it "
                                      "ended, or was never given); initialize again"));
            return McpPostHandle();
        }
    }
    const HeaderList headers = {{kSessionHeader, session->Id()}};

    if (is_initialize && !session_id) {
        // Answered at once; the session is kept only when the answer is a result.
        auto held = std::make_shared<HeldStream>();
        auto exchange = std::make_shared<McpExchange>(held, HeaderList());
        session->Open(*id, exchange);
        session->Receive(message, exchange.get());
        HttpAnswer answer = held->held.value_or(McpRefusal(500, "no answer to initialize"));
        if (session->Initialized()) {
            answer.headers.insert(answer.headers.begin(), headers.front());
            *verdict = "session begun";
        } else {
            if (auto refused = table_.Remove(session->Id())) Retire({std::move(refused)});
            *verdict = "initialize refused";
        }
        stream->Answer(answer);
        return McpPostHandle();
    }

    if (is_request) {
        auto exchange = std::make_shared<McpExchange>(stream, headers);
        if (!session->Open(*id, exchange)) {
            *verdict = "id in use";
            HttpAnswer answer;
            answer.headers = headers;
            answer.headers.emplace_back("Content-Type", "application/json");
            answer.body =
                mcp::ErrorResponse(*id, {mcp::rpc_error::kInvalidRequest,
                                         "Invalid request: a request with this id is still open"})
                    .dump();
            stream->Answer(answer);
            return McpPostHandle();
        }
        *verdict = method->get<std::string>();
        session->Receive(message, exchange.get());
        return McpPostHandle(exchange);
    }

    // A notification, a response, or no usable message: what the session answers at once is
    // an error, sent with 400; else 202.
    auto held = std::make_shared<HeldStream>();
    McpExchange fallback(held, headers);
    session->Receive(message, &fallback);
    if (has_method && *method == "notifications/cancelled") {
        const auto params = message.find("params");
        if (params != message.end() && params->is_object()) {
            const auto request = params->find("requestId");
            if (request != params->end() && mcp::IsUsableId(*request))
                session->CloseExchange(*request);
        }
    }
    if (held->held) {
        *verdict = "refused";
        held->held->status = 400;
        stream->Answer(*held->held);
        return McpPostHandle();
    }
    *verdict = has_method ? method->get<std::string>() : "response";
    HttpAnswer accepted;
    accepted.status = 202;
    accepted.headers = headers;
    stream->Answer(accepted);
    return McpPostHandle();
}

HttpAnswer McpHttp::Delete(const RequestHead& head, std::string* verdict) {
    const std::optional<std::string_view> session_id = head.headers.Find(kSessionHeader);
    if (!session_id) {
        *verdict = "no session";
        return McpRefusal(400, "Bad Request: no Mcp-Session-Id header");
    }
    std::shared_ptr<McpHttpSession> session = table_.Remove(*session_id);
    if (!session) {
        *verdict = "unknown session";
        return McpRefusal(404, "Not Found: no session has this Mcp-Session-Id");
    }
    Retire({std::move(session)});
    *verdict = "session ended";
    HttpAnswer answer;
    answer.status = 200;
    return answer;
}

}  // namespace serve
