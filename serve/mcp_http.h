// POST and DELETE /mcp once the front door let them in: the body read as one JSON-RPC message,
// the session found by its Mcp-Session-Id (or made by an initialize), and the answer:
//   a request: its answer as application/json, or an event stream when the call sends
//     progress or log notifications first;
//   a notification or a client's response: 202, no body;
//   no Mcp-Session-Id on anything but an initialize: 400; an id ended or never given: 404;
//   an initialize past --max-sessions: 503; a body that is no JSON: 400.
// A dropped connection never cancels a call: only notifications/cancelled does.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "mcp/outbox.h"
#include "mcp/session.h"
#include "mcp/tool_host.h"
#include "serve/door.h"
#include "serve/mcp_sessions.h"

namespace serve {

constexpr const char* kSessionHeader = "Mcp-Session-Id";

struct McpHttpSettings {
    McpSessionLimits limits;
    mcp::SessionOptions session;
    // Whole seconds of a steady clock.
    std::function<std::int64_t()> now;
    // Ends sessions (each End() waits for its calls to stop); the socket side runs it on a
    // thread of its own so that no connection waits for it. Empty: at once.
    std::function<void(std::function<void()> work)> run_apart;
};

// What the POST's connection gives back, so that the socket side can tell it went away.
class McpPostHandle {
public:
    explicit McpPostHandle(std::shared_ptr<McpExchange> exchange = nullptr)
        : exchange_(std::move(exchange)) {}
    // The client went away before the answer: the call runs on, its answer is dropped.
    void Dropped() const {
        if (exchange_) exchange_->Drop();
    }

private:
    std::shared_ptr<McpExchange> exchange_;
};

class McpHttp {
public:
    McpHttp(mcp::ToolHost& host, mcp::Diagnostics& diagnostics, RandomSource& random,
            McpHttpSettings settings);
    ~McpHttp() { EndAll(); }

    // One POST /mcp with its whole body; what it answers goes to `stream`.
    McpPostHandle Post(const RequestHead& head, const std::string& body,
                       const std::shared_ptr<McpStream>& stream, std::string* verdict);
    // DELETE /mcp.
    HttpAnswer Delete(const RequestHead& head, std::string* verdict);

    // Every session ended (their calls stopped and answered), and every ending waited for.
    void EndAll();
    std::size_t Sessions() const { return table_.Count(); }

private:
    void Retire(std::vector<std::shared_ptr<McpHttpSession>> ended);

    mcp::ToolHost& host_;
    mcp::Diagnostics& diagnostics_;
    const McpHttpSettings settings_;
    McpSessionTable table_;
    std::mutex mutex_;
    std::condition_variable retired_;
    int retiring_ = 0;
};

// A refusal as MCP clients read it: the status, and a JSON-RPC error with a null id.
HttpAnswer McpRefusal(int status, const std::string& message);

}  // namespace serve
