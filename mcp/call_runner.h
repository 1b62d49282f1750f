// Runs tools/call requests, each on its own thread, at most `max_calls` at once; answers each
// as it ends, unless the client cancelled it.
#pragma once

#include <nlohmann/json.hpp>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mcp/outbox.h"
#include "mcp/running_call.h"
#include "mcp/tool_host.h"

namespace mcp {

enum class StartOutcome {
    kStarted,   // the response goes out when the call ends
    kBusy,      // max_calls calls run already
    kIdInUse,   // a running call has this id
    kClosed,    // the server is ending
    kNoThread,  // the system gave no thread
};

class CallRunner {
public:
    CallRunner(ToolHost& host, Outbox& outbox, Diagnostics& diagnostics,
               const std::atomic<int>& log_level, std::size_t max_calls);
    ~CallRunner() { Close(); }
    CallRunner(const CallRunner&) = delete;
    CallRunner& operator=(const CallRunner&) = delete;

    StartOutcome Start(const nlohmann::json& id, const std::string& name, nlohmann::json arguments,
                       std::optional<nlohmann::json> progress_token);
    // Cancels the running call with this id, which is free again at once (the call still counts
    // toward max_calls until it returns). An id unknown or already answered is ignored.
    void Cancel(const nlohmann::json& id);
    // Nothing new starts; every running call is stopped and waited for.
    void Close();

    std::size_t MaxCalls() const { return max_calls_; }

private:
    void Run(const std::shared_ptr<RunningCall>& call, const std::string& name,
             const nlohmann::json& arguments);
    void JoinFinished();

    ToolHost& host_;
    Outbox& outbox_;
    Diagnostics& diagnostics_;
    const std::atomic<int>& log_level_;
    const std::size_t max_calls_;

    std::mutex mutex_;
    std::condition_variable call_ended_;
    std::map<std::string, std::shared_ptr<RunningCall>> running_;  // by the id's JSON text
    std::vector<std::shared_ptr<RunningCall>> cancelled_;          // still running
    std::vector<std::shared_ptr<RunningCall>> finished_;           // threads still to join
    bool closed_ = false;
};

}  // namespace mcp
