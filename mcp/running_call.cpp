#include "mcp/running_call.h"

#include <cmath>
#include <utility>

#include "mcp/json_rpc.h"

namespace mcp {

RunningCall::RunningCall(nlohmann::json id, std::optional<nlohmann::json> progress_token,
                         Outbox& outbox, const std::atomic<int>& log_level)
    : id_(std::move(id)),
      progress_token_(std::move(progress_token)),
      outbox_(outbox),
      log_level_(log_level) {}

bool RunningCall::ReportProgress(const ProgressReport& report) {
    if (!progress_token_ || cancelled_ || !std::isfinite(report.progress)) return false;
    if (report.total && !std::isfinite(*report.total)) return false;
    std::lock_guard lock(mutex_);
    if (finished_ || (last_progress_ && report.progress <= *last_progress_)) return false;
    last_progress_ = report.progress;
    nlohmann::ordered_json params;
    params["progressToken"] = nlohmann::ordered_json(*progress_token_);
    params["progress"] = report.progress;
    if (report.total) params["total"] = *report.total;
    if (!report.message.empty()) params["message"] = report.message;
    outbox_.SendFor(id_, NotificationMessage("notifications/progress", std::move(params)));
    return true;
}

bool RunningCall::Log(LogLevel level, const nlohmann::ordered_json& data, std::string_view logger) {
    // Before any logging/setLevel a server may choose what it sends; this one sends nothing, so
    // a client that never asked for log messages gets none.
    const int lowest = log_level_;
    if (lowest == kNoLogLevel || static_cast<int>(level) < lowest) return false;
    std::lock_guard lock(mutex_);
    if (finished_) return false;
    nlohmann::ordered_json params;
    params["level"] = LogLevelName(level);
    if (!logger.empty()) params["logger"] = logger;
    params["data"] = data;
    outbox_.SendFor(id_, NotificationMessage("notifications/message", std::move(params)));
    return true;
}

void RunningCall::Cancel() {
    cancelled_ = true;
    stop_.request_stop();
}

void RunningCall::Finish() {
    std::lock_guard lock(mutex_);
    finished_ = true;
}

}  // namespace mcp
