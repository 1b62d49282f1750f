// Carries out the actions a healing health watch hands out: a start is the ordinary start job
// waiting for the boot (memuc start waited for, then the boot poll); a restart is memuc stop,
// waited for with a time-out, then that start. Never a kill. The actions go through the farm's
// scheduler, so --parallel and --stagger hold for them, and run in the background while the
// rounds go on; each one ends as an event.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "farm/run/farm_system.h"
#include "farm/command/limits.h"
#include "farm/health/heal_policy.h"
#include "farm/health/heal_view.h"
#include "farm/run/scheduler.h"
#include "farm/run/tool_step.h"

// One action to carry out.
struct HealOrder {
    int32_t index = 0;
    std::string title;  // GBK
    HealAction action = HealAction::kNone;
    std::string reason;  // why: the reading's problems, or "not running"
};

// Carries out one action now, on the calling thread. A stop that fails or times out ends the
// action: the VM is not started over a stop that did not happen.
HealEvent RunHealAction(FarmSystem& system, const ToolFolders& folders, const HealOrder& order);

// When the actions of a round are carried out.
enum class HealPace {
    kBackground,  // on a thread of their own while the rounds go on
    kInline,      // before the round ends (tests: every round sees the last one's actions done)
};

class HealActions {
public:
    HealActions(FarmSystem& system, ToolFolders folders, ScheduleOptions options, HealPace pace);
    // Waits for the actions in progress: they are never cut short.
    ~HealActions();
    HealActions(const HealActions&) = delete;
    HealActions& operator=(const HealActions&) = delete;

    // Queues a round's actions; they run once the ones queued before have run.
    void Submit(std::vector<HealOrder> orders);
    // The VMs with an action queued or running.
    std::set<int32_t> InProgress();
    // The actions that ended since the last call, in the order they ended.
    std::vector<HealEvent> TakeEnded();
    // Waits until no action is queued or running (after Ctrl+C the queued ones are dropped).
    void WaitIdle();

private:
    void RunBatch(const std::vector<HealOrder>& orders);
    void Work();

    FarmSystem& system_;
    const ToolFolders folders_;
    const ScheduleOptions options_;
    const HealPace pace_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<HealOrder>> queue_;
    std::set<int32_t> in_progress_;
    std::vector<HealEvent> ended_;
    bool quitting_ = false;
    std::thread worker_;
};
