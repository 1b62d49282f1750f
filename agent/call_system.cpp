#include "agent/call_system.h"

#include <algorithm>

namespace agent {

namespace {

// How often a wait for a start slot asks whether to give up, in real time: only how soon a
// stop is seen while every slot is taken.
constexpr auto kGatePoll = std::chrono::milliseconds(20);
// The longest piece of a call's sleep, on the system's clock, between two looks at its stop.
constexpr double kSleepPiece = 0.05;

}  // namespace

bool StartGate::Enter(const std::function<bool()>& give_up) {
    std::unique_lock lock(mutex_);
    while (in_flight_ >= slots_) {
        if (give_up && give_up()) return false;
        freed_.wait_for(lock, kGatePoll);
    }
    ++in_flight_;
    int peak = peak_.load();
    while (in_flight_ > peak && !peak_.compare_exchange_weak(peak, in_flight_)) {
    }
    return true;
}

void StartGate::Leave() {
    {
        std::lock_guard lock(mutex_);
        --in_flight_;
    }
    freed_.notify_one();
}

CallSystem::CallSystem(FarmSystem& system, StartGate& gate, std::stop_token stop,
                       double cap_seconds, StepLog log)
    : system_(system),
      gate_(gate),
      stop_(std::move(stop)),
      cap_at_(system.Now() + cap_seconds),
      log_(std::move(log)) {}

bool CallSystem::StopRequested() {
    const bool stopped =
        system_.StopRequested() || stop_.stop_requested() || system_.Now() >= cap_at_;
    if (stopped) {
        std::lock_guard lock(mutex_);
        if (!stopped_at_) stopped_at_ = system_.Now();
    }
    return stopped;
}

bool CallSystem::PastGrace() {
    if (!StopRequested()) return false;
    std::lock_guard lock(mutex_);
    return system_.Now() >= *stopped_at_ + kStopGraceSeconds;
}

void CallSystem::Sleep(double seconds) {
    const double until = system_.Now() + seconds;
    for (;;) {
        if (StopRequested()) return;
        const double left = until - system_.Now();
        if (left <= 0) return;
        system_.Sleep(std::min(left, kSleepPiece));
    }
}

bool CallSystem::Enter(const std::function<bool()>& give_up, ToolRun* refused) {
    if (gate_.Enter(give_up)) return true;
    refused->end = RunEnd::kNotStarted;
    refused->error =
        "not started: the call was stopped or its deadline passed while every start slot of "
        "the server (mcp --parallel) was taken";
    return false;
}

void CallSystem::Told(const ToolCommand& command, const ToolRun& run) {
    if (!log_.failed) return;
    const std::string line = command.CommandLine();
    if (run.end == RunEnd::kNotStarted) {
        log_.failed(line, run.error);
    } else if (run.end == RunEnd::kTimedOut) {
        log_.failed(line, "timed out; the tool is left running");
    } else if (run.end == RunEnd::kAbandoned) {
        log_.failed(line, "no longer waited for; the tool is left running");
    } else if (run.end == RunEnd::kExited && run.exit_code != 0) {
        log_.failed(line, "exit code " + std::to_string(run.exit_code));
    }
}

ToolRun CallSystem::Run(const ToolCommand& command, const ToolRunOptions& options) {
    ToolRunOptions mine = options;
    mine.abandon = [this, abandon = options.abandon] {
        return (abandon && abandon()) || PastGrace();
    };
    ToolRun run;
    if (!Enter(mine.abandon, &run)) {
        Told(command, run);
        return run;
    }
    if (log_.started) log_.started(command.CommandLine());
    run = system_.Tools().Run(command, mine);
    gate_.Leave();
    Told(command, run);
    return run;
}

ToolRun CallSystem::StartDetached(const ToolCommand& command) {
    ToolRun run;
    if (!Enter([this] { return PastGrace(); }, &run)) {
        Told(command, run);
        return run;
    }
    if (log_.started) log_.started(command.CommandLine());
    run = system_.Tools().StartDetached(command);
    gate_.Leave();
    Told(command, run);
    return run;
}

}  // namespace agent
