// What a healing health watch shows: each VM's heal state in a round, the ended actions counted
// by VM, action and result, and each action as an event.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "farm/health/heal_policy.h"

// One action as it ended.
struct HealEvent {
    int64_t time = 0;  // when it ended (FILETIME)
    int32_t index = 0;
    std::string title;  // GBK
    HealAction action = HealAction::kNone;
    std::string reason;              // why it was needed
    std::vector<std::string> steps;  // the command lines it ran, in order
    HealResult result = HealResult::kFailed;
    std::string failure;  // why it did not succeed; empty when it did
};

// The healing side of one round.
struct HealView {
    std::map<int32_t, HealDecision> decisions;  // by VM index: its state and the action handed out
    HealTotals totals;                          // every action that ended so far

    // The VM's state; healthy for a VM the round did not decide on.
    HealState StateOf(int32_t index) const {
        const auto found = decisions.find(index);
        return found == decisions.end() ? HealState::kHealthy : found->second.state;
    }
};
