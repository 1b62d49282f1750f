// One client's MCP session, apart from any transport: takes parsed messages, answers through an
// Outbox. Requests are answered on the thread that hands them in, except tools/call, which runs
// on a thread of its own and is answered when it ends.
#pragma once

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstddef>
#include <string>

#include "mcp/call_runner.h"
#include "mcp/outbox.h"
#include "mcp/running_call.h"
#include "mcp/tool_host.h"

namespace mcp {

struct SessionOptions {
    std::string server_name;     // serverInfo.name
    std::string server_version;  // serverInfo.version
    std::size_t max_calls = 32;  // tools/call requests running at once; past that one is "busy"
};

class Session {
public:
    Session(ToolHost& host, Outbox& outbox, Diagnostics& diagnostics, SessionOptions options);
    ~Session() { Close(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // One message as parsed (a JSON value of any kind: what is no request is answered as such).
    void Receive(const nlohmann::json& message);

    // The client is gone: nothing new starts, every running call is stopped and waited for.
    void Close() { calls_.Close(); }

    // Whether initialize was answered with a result.
    bool Initialized() const { return initialized_; }

private:
    void ReceiveRequest(const nlohmann::json& id, const std::string& method,
                        const nlohmann::json& params);
    void ReceiveNotification(const std::string& method, const nlohmann::json& params);
    void Initialize(const nlohmann::json& id, const nlohmann::json& params);
    void SetLogLevel(const nlohmann::json& id, const nlohmann::json& params);
    void ListTools(const nlohmann::json& id);
    void CallTool(const nlohmann::json& id, const nlohmann::json& params);
    void SendError(const nlohmann::json& id, int code, std::string message);

    ToolHost& host_;
    Outbox& outbox_;
    Diagnostics& diagnostics_;
    const SessionOptions options_;
    std::atomic<bool> initialized_{false};
    std::atomic<int> log_level_{kNoLogLevel};
    CallRunner calls_;  // last: its threads are waited for before the rest goes
};

}  // namespace mcp
