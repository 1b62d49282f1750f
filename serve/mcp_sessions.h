// MCP over HTTP, apart from the socket: each client's session (an mcp::Session whose messages go
// to the POST that carries the request they answer), and the table of sessions by their
// Mcp-Session-Id, with the most at once and the idle time after which one is ended.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mcp/outbox.h"
#include "mcp/session.h"
#include "mcp/tool_host.h"
#include "serve/token.h"

namespace serve {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// One HTTP answer as the socket side writes it, and the connection closes after it.
struct HttpAnswer {
    int status = 200;
    HeaderList headers;  // Content-Type among them when there is a body
    std::string body;
};

// The connection of one POST, as the socket side carries it out. Called from any thread; each
// call is written in the order made. Either one Answer, or Begin, Events and End.
class McpStream {
public:
    virtual ~McpStream() = default;
    virtual void Answer(const HttpAnswer& answer) = 0;
    // 200 with text/event-stream and these headers; the body stays open.
    virtual void Begin(const HeaderList& headers) = 0;
    // One event carrying one JSON-RPC message.
    virtual void Event(const std::string& message) = 0;
    // The stream ends and the connection closes.
    virtual void End() = 0;
};

// What one request's POST is sent: its answer as application/json when the answer comes
// first, else an event stream of its notifications and then its answer.
class McpExchange {
public:
    McpExchange(std::shared_ptr<McpStream> stream, HeaderList headers)
        : stream_(std::move(stream)), headers_(std::move(headers)) {}

    void Deliver(const nlohmann::ordered_json& message, bool last);
    // Ends a stream that got no answer (the request was cancelled, the session ended).
    void Close();
    // The connection went away: nothing more is written.
    void Drop();
    bool Done() const;

private:
    std::shared_ptr<McpStream> stream_;  // let go once done
    const HeaderList headers_;
    mutable std::mutex mutex_;
    bool streaming_ = false;
    bool done_ = false;
};

// One client's session. Its messages go, by the request id they answer or are sent for, to
// that request's exchange; a message with no exchange (its connection closed) is dropped: the
// answer of a call whose stream dropped is not kept for later.
class McpHttpSession : public mcp::Outbox {
public:
    McpHttpSession(std::string id, mcp::ToolHost& host, mcp::Diagnostics& diagnostics,
                   mcp::SessionOptions options, std::int64_t now);
    ~McpHttpSession() override;

    const std::string& Id() const { return id_; }

    // A request's exchange, open until its answer is delivered; false when one for the same id
    // is open still.
    bool Open(const nlohmann::json& request_id, std::shared_ptr<McpExchange> exchange);
    // Hands one message to the session. What it answers at once with no exchange of its own
    // (a message that is no usable request) goes to `fallback`.
    void Receive(const nlohmann::json& message, McpExchange* fallback);
    // Ends the exchange of a cancelled request: the call gets no answer.
    void CloseExchange(const nlohmann::json& request_id);

    // Nothing new starts, running calls are stopped and waited for (their answers still go out
    // to open exchanges), then every exchange left is closed.
    void End();

    bool Initialized() const { return session_.Initialized(); }
    // Idle: no exchange open; since `LastUsed()`, the time of its last request.
    bool Idle() const;
    std::int64_t LastUsed() const;
    void Touch(std::int64_t now);

    void Send(const nlohmann::ordered_json& message) override;
    void SendFor(const nlohmann::json& request_id, const nlohmann::ordered_json& message) override;

private:
    std::shared_ptr<McpExchange> ExchangeOf(const std::string& key, bool take);

    const std::string id_;
    mcp::Diagnostics& diagnostics_;
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<McpExchange>> open_;  // by the id's JSON text
    std::int64_t last_used_;
    mcp::Session session_;  // last: its calls are waited for before the exchanges go
};

struct McpSessionLimits {
    std::size_t max_sessions = 16;
    std::int64_t idle_seconds = 3600;
};

// The sessions by id. Times are whole seconds of a steady clock the caller reads. A session
// is ended when DELETE ends it, when it has been idle for idle_seconds (no request came and no
// answer was awaited; looked at on every Create and Find), or at the server's end. At the limit a
// new session is refused: an agent's session is never ended to make room for another's.
class McpSessionTable {
public:
    using Maker = std::function<std::shared_ptr<McpHttpSession>(std::string id)>;
    McpSessionTable(McpSessionLimits limits, RandomSource& random, Maker make);

    // A new session under a new random id; nothing when the table is full or the generator
    // failed. The sessions that expired are added to *ended, for the caller to End.
    std::shared_ptr<McpHttpSession> Create(std::int64_t now,
                                           std::vector<std::shared_ptr<McpHttpSession>>* ended);
    // The live session of this id (touched), or nothing.
    std::shared_ptr<McpHttpSession> Find(std::string_view id, std::int64_t now,
                                         std::vector<std::shared_ptr<McpHttpSession>>* ended);
    // Takes the session out; nothing when the id is unknown.
    std::shared_ptr<McpHttpSession> Remove(std::string_view id);
    std::vector<std::shared_ptr<McpHttpSession>> RemoveAll();
    std::size_t Count() const;
    const McpSessionLimits& Limits() const { return limits_; }

private:
    void Expire(std::int64_t now, std::vector<std::shared_ptr<McpHttpSession>>* ended);

    const McpSessionLimits limits_;
    RandomSource& random_;
    const Maker make_;
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<McpHttpSession>, std::less<>> sessions_;
};

// 16 random bytes as lowercase hex; nothing when the source failed.
std::optional<std::string> NewSessionId(RandomSource& random);

}  // namespace serve
