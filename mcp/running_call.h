// One tools/call while it runs: its stop flag, its progress and its log notifications.
#pragma once

#include <nlohmann/json.hpp>

#include <atomic>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include "mcp/outbox.h"
#include "mcp/tool_host.h"

namespace mcp {

// The lowest level the client asked for with logging/setLevel, or kNoLogLevel before it asked.
constexpr int kNoLogLevel = -1;

class RunningCall : public CallContext {
public:
    RunningCall(nlohmann::json id, std::optional<nlohmann::json> progress_token, Outbox& outbox,
                const std::atomic<int>& log_level);

    std::stop_token StopToken() const override { return stop_.get_token(); }
    bool ReportProgress(const ProgressReport& report) override;
    bool Log(LogLevel level, const nlohmann::ordered_json& data, std::string_view logger) override;

    const nlohmann::json& Id() const { return id_; }
    // The client cancelled the call: it stops, sends no more progress and gets no response.
    void Cancel();
    bool Cancelled() const { return cancelled_; }
    // The server ends: the call stops, and its response still goes out.
    void Stop() { stop_.request_stop(); }
    // The call returned: nothing more is sent for it.
    void Finish();

    std::thread thread;

private:
    const nlohmann::json id_;
    const std::optional<nlohmann::json> progress_token_;
    Outbox& outbox_;
    const std::atomic<int>& log_level_;
    std::stop_source stop_;
    std::atomic<bool> cancelled_{false};

    std::mutex mutex_;  // held while a notification is sent, so values go out in order
    bool finished_ = false;
    std::optional<double> last_progress_;
};

}  // namespace mcp
