#include "farm/health/heal_run.h"

#include <algorithm>

#include "farm/command/grammar.h"
#include "farm/run/vm_jobs.h"

namespace {

// What a step's job came to, as a heal result: a tool that stayed silent past its time-out or
// a boot that did not finish in time is a time-out, anything else that did not succeed a
// failure.
HealResult ResultOf(const VmResult& result) {
    switch (result.verdict) {
        case Verdict::kOk:
            return HealResult::kOk;
        case Verdict::kTimedOut:
        case Verdict::kDeadline:
            return HealResult::kTimedOut;
        default:
            break;
    }
    return result.booted == false ? HealResult::kTimedOut : HealResult::kFailed;
}

// Runs the command `verb` for the VM as the command line would, with the request's settings,
// and adds its lines to the event. True when it succeeded.
bool RunStep(FarmSystem& system, const ToolFolders& folders, const FarmRequest& request,
             HealEvent& event) {
    const JobContext context{system, request, folders, std::nullopt, {}, false};
    const VmResult result = RunVmJob(context, event.index);
    for (const StepResult& step : result.steps) event.steps.push_back(step.command);
    event.result = ResultOf(result);
    if (event.result == HealResult::kOk) return true;
    event.failure =
        result.failure.empty() ? std::string(VerdictKey(result.verdict)) : result.failure;
    return false;
}

FarmRequest StopRequest() {
    FarmRequest request = NewRequest(*FindVerb("stop"));
    request.wait = true;
    request.timeout_ms = kHealStopTimeoutMs;
    return request;
}

FarmRequest StartRequest() {
    FarmRequest request = NewRequest(*FindVerb("start"));
    request.wait = true;
    request.boot = true;
    request.timeout_ms = kHealStartTimeoutMs;
    return request;
}

}  // namespace

HealEvent RunHealAction(FarmSystem& system, const ToolFolders& folders, const HealOrder& order) {
    HealEvent event;
    event.index = order.index;
    event.title = order.title;
    event.action = order.action;
    event.reason = order.reason;
    bool stopped = true;
    if (order.action == HealAction::kRestart) {
        stopped = RunStep(system, folders, StopRequest(), event);
        if (!stopped) event.failure = "the stop did not succeed: " + event.failure;
    }
    if (stopped) RunStep(system, folders, StartRequest(), event);
    event.time = system.Probes().SystemTime();
    return event;
}

HealActions::HealActions(FarmSystem& system, ToolFolders folders, ScheduleOptions options,
                         HealPace pace)
    : system_(system), folders_(std::move(folders)), options_(options), pace_(pace) {}

HealActions::~HealActions() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quitting_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void HealActions::Submit(std::vector<HealOrder> orders) {
    if (orders.empty()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const HealOrder& order : orders) in_progress_.insert(order.index);
        if (pace_ == HealPace::kBackground) {
            queue_.push_back(std::move(orders));
            if (!worker_.joinable()) worker_ = std::thread([this] { Work(); });
        }
    }
    if (pace_ == HealPace::kInline) {
        RunBatch(orders);
    } else {
        changed_.notify_all();
    }
}

std::set<int32_t> HealActions::InProgress() {
    std::lock_guard<std::mutex> lock(mutex_);
    return in_progress_;
}

std::vector<HealEvent> HealActions::TakeEnded() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<HealEvent> ended;
    ended.swap(ended_);
    return ended;
}

void HealActions::WaitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return in_progress_.empty(); });
}

void HealActions::RunBatch(const std::vector<HealOrder>& orders) {
    RunPositions(system_, orders.size(), options_, [&](size_t position, double) {
        const HealOrder& order = orders[position];
        HealEvent event = RunHealAction(system_, folders_, order);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ended_.push_back(std::move(event));
            in_progress_.erase(order.index);
        }
        changed_.notify_all();
    });
    // The ones Ctrl+C kept from starting are no longer in progress either.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const HealOrder& order : orders) in_progress_.erase(order.index);
    }
    changed_.notify_all();
}

void HealActions::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return quitting_ || !queue_.empty(); });
        if (queue_.empty()) return;  // quitting, with nothing left to run
        const std::vector<HealOrder> orders = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        RunBatch(orders);
        lock.lock();
    }
}
