// What a self-healing health watch does about each VM of its set, round by round: start a VM
// that is not running, restart one that stayed unhealthy for several rounds in a row, within a
// budget of actions per VM in a sliding time window, and give up loudly past it.
// Plain data over readings and a clock: no system calls, no threads. The caller carries the
// actions out (the ordinary stop and start steps) and reports how each ended.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "farm/command/limits.h"

enum class HealAction {
    kNone,
    kStart,    // start, waiting for the boot
    kRestart,  // stop, then start waiting for the boot
};

enum class HealResult { kOk, kFailed, kTimedOut };

// Where a VM stands in one round.
enum class HealState {
    kHealthy,     // running and healthy
    kUnhealthy,   // running and not healthy
    kNotRunning,  // not running
    kHealing,     // an action on it is still in progress: neither counted nor acted on
    kGaveUp,      // it needs an action but has used up its budget
};

// "start", "restart" ("none" for kNone): the action label of the metrics and of JSON.
std::string_view HealActionName(HealAction action);
// "ok", "failed", "timed_out".
std::string_view HealResultName(HealResult result);
// "healthy", "unhealthy", "not_running", "healing", "gave_up".
std::string_view HealStateName(HealState state);

struct HealSettings {
    int heal_after = kDefaultHealAfter;     // unhealthy rounds in a row before a restart (>= 1)
    int max_actions = kDefaultMaxRestarts;  // actions per VM within any window_s seconds
    double window_s = kDefaultHealWindowS;  // an action counts while younger than this
};

// One VM's reading in a round.
struct HealReading {
    int32_t index = 0;
    bool running = false;
    bool healthy = false;  // read only when running
    std::string reason;    // why it is not healthy
};

// What the policy made of one VM in one round.
struct HealDecision {
    int32_t index = 0;
    HealState state = HealState::kHealthy;
    HealAction action = HealAction::kNone;  // what to do now
    int unhealthy_rounds = 0;               // unhealthy readings in a row so far
    int actions_in_window = 0;              // actions that count against its budget now
    std::string reason;                     // why it needs an action: the reading's reason
};

struct HealRoundDecision {
    std::vector<HealDecision> vms;  // in the order of the readings
    int gave_up = 0;                // VMs in state kGaveUp
    int healing = 0;                // VMs in state kHealing
};

// Ended actions per VM, action and result: the counter behind memu_vm_heal_actions_total.
using HealTotals = std::map<std::tuple<int32_t, HealAction, HealResult>, int64_t>;

class HealPolicy {
public:
    explicit HealPolicy(HealSettings settings = {});

    // One round: a reading for each VM of the set, the time now (seconds on a steady clock)
    // and the VMs whose action the caller is still carrying out. Every action handed out is
    // charged to its VM's budget at `now_s`.
    HealRoundDecision Decide(const std::vector<HealReading>& readings, double now_s,
                             const std::set<int32_t>& in_progress);

    // How an action handed out by Decide ended. After one that failed or timed out (a stop
    // that did not stop, a start that did not boot) the VM is acted on again at its next
    // reading that is not healthy, without waiting for heal_after rounds, within the budget.
    void Finished(int32_t index, HealAction action, HealResult result);

    // The user asked to stop (the first Ctrl+C): no new action from now on.
    void Stop() { stopped_ = true; }
    bool Stopped() const { return stopped_; }

    const HealTotals& Totals() const { return totals_; }
    const HealSettings& Settings() const { return settings_; }

private:
    struct VmTrack {
        int unhealthy_rounds = 0;
        bool retry_due = false;      // its last action failed or timed out
        std::deque<double> actions;  // when each action in the window was handed out
    };

    // Drops the actions that have left the window and tells whether one more fits.
    bool HasBudget(VmTrack& track, double now_s) const;

    HealSettings settings_;
    bool stopped_ = false;
    std::map<int32_t, VmTrack> vms_;
    HealTotals totals_;
};
