#include "mcp/call_runner.h"

#include <exception>
#include <system_error>
#include <utility>
#include <vector>

#include "mcp/json_rpc.h"

namespace mcp {

CallRunner::CallRunner(ToolHost& host, Outbox& outbox, Diagnostics& diagnostics,
                       const std::atomic<int>& log_level, std::size_t max_calls)
    : host_(host),
      outbox_(outbox),
      diagnostics_(diagnostics),
      log_level_(log_level),
      max_calls_(max_calls) {}

StartOutcome CallRunner::Start(const nlohmann::json& id, const std::string& name,
                               nlohmann::json arguments,
                               std::optional<nlohmann::json> progress_token) {
    JoinFinished();
    const std::string key = id.dump();
    std::lock_guard lock(mutex_);
    if (closed_) return StartOutcome::kClosed;
    if (running_.count(key)) return StartOutcome::kIdInUse;
    if (running_.size() + cancelled_.size() >= max_calls_) return StartOutcome::kBusy;
    auto call = std::make_shared<RunningCall>(id, std::move(progress_token), outbox_, log_level_);
    running_.emplace(key, call);
    try {
        // Made under the lock, so the thread is stored before the call can end and be joined.
        call->thread =
            std::thread([this, call, name, args = std::move(arguments)] { Run(call, name, args); });
    } catch (const std::system_error& error) {
        running_.erase(key);
        diagnostics_.Note(std::string("no thread for a tool call: ") + error.what());
        return StartOutcome::kNoThread;
    }
    return StartOutcome::kStarted;
}

void CallRunner::Run(const std::shared_ptr<RunningCall>& call, const std::string& name,
                     const nlohmann::json& arguments) {
    nlohmann::ordered_json response;
    try {
        nlohmann::ordered_json result = host_.Call(name, arguments, *call);
        if (result.is_object()) {
            response = ResultResponse(call->Id(), std::move(result));
        } else {
            diagnostics_.Note("tool " + name + " gave no result object");
            response = ErrorResponse(
                call->Id(), {rpc_error::kInternalError, "Internal error: the tool gave no result"});
        }
    } catch (const std::exception& error) {
        diagnostics_.Note("tool " + name + " failed: " + error.what());
        response = ErrorResponse(call->Id(), {rpc_error::kInternalError,
                                              std::string("Internal error: ") + error.what()});
    } catch (...) {
        diagnostics_.Note("tool " + name + " failed");
        response = ErrorResponse(call->Id(),
                                 {rpc_error::kInternalError, "Internal error: the tool failed"});
    }
    call->Finish();
    bool answer;
    {
        std::lock_guard lock(mutex_);
        // A cancelled request gets no response: the client has stopped waiting for it.
        answer = !call->Cancelled();
        if (answer)
            running_.erase(call->Id().dump());
        else
            std::erase(cancelled_, call);
        finished_.push_back(call);
    }
    call_ended_.notify_all();
    if (answer) outbox_.Send(response);
}

void CallRunner::Cancel(const nlohmann::json& id) {
    std::lock_guard lock(mutex_);
    const auto found = running_.find(id.dump());
    if (found == running_.end()) return;
    found->second->Cancel();
    cancelled_.push_back(found->second);
    running_.erase(found);
}

void CallRunner::Close() {
    {
        std::unique_lock lock(mutex_);
        closed_ = true;
        for (auto& entry : running_) entry.second->Stop();
        call_ended_.wait(lock, [this] { return running_.empty() && cancelled_.empty(); });
    }
    JoinFinished();
}

void CallRunner::JoinFinished() {
    std::vector<std::shared_ptr<RunningCall>> ended;
    {
        std::lock_guard lock(mutex_);
        ended.swap(finished_);
    }
    for (auto& call : ended)
        if (call->thread.joinable()) call->thread.join();
}

}  // namespace mcp
