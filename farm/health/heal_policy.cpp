#include "farm/health/heal_policy.h"

#include <algorithm>

std::string_view HealActionName(HealAction action) {
    switch (action) {
        case HealAction::kStart:
            return "start";
        case HealAction::kRestart:
            return "restart";
        case HealAction::kNone:
            break;
    }
    return "none";
}

std::string_view HealResultName(HealResult result) {
    switch (result) {
        case HealResult::kOk:
            return "ok";
        case HealResult::kFailed:
            return "failed";
        case HealResult::kTimedOut:
            return "timed_out";
    }
    return "failed";
}

std::string_view HealStateName(HealState state) {
    switch (state) {
        case HealState::kHealthy:
            return "healthy";
        case HealState::kUnhealthy:
            return "unhealthy";
        case HealState::kNotRunning:
            return "not_running";
        case HealState::kHealing:
            return "healing";
        case HealState::kGaveUp:
            return "gave_up";
    }
    return "unhealthy";
}

HealPolicy::HealPolicy(HealSettings settings) : settings_(settings) {
    settings_.heal_after = std::max(1, settings_.heal_after);
    settings_.max_actions = std::max(0, settings_.max_actions);
}

bool HealPolicy::HasBudget(VmTrack& track, double now_s) const {
    // An action handed out exactly window_s ago has left the window.
    while (!track.actions.empty() && now_s - track.actions.front() >= settings_.window_s)
        track.actions.pop_front();
    return static_cast<int>(track.actions.size()) < settings_.max_actions;
}

HealRoundDecision HealPolicy::Decide(const std::vector<HealReading>& readings, double now_s,
                                     const std::set<int32_t>& in_progress) {
    HealRoundDecision round;
    for (const HealReading& reading : readings) {
        VmTrack& track = vms_[reading.index];
        HealDecision decision;
        decision.index = reading.index;
        const bool has_budget = HasBudget(track, now_s);

        HealAction needed = HealAction::kNone;
        if (in_progress.count(reading.index)) {
            // Whatever it reads now is the action's doing, not a new failure.
            decision.state = HealState::kHealing;
        } else if (!reading.running) {
            track.unhealthy_rounds = 0;
            decision.state = HealState::kNotRunning;
            decision.reason = reading.reason.empty() ? "not running" : reading.reason;
            needed = HealAction::kStart;
        } else if (reading.healthy) {
            track.unhealthy_rounds = 0;
            track.retry_due = false;
            decision.state = HealState::kHealthy;
        } else {
            ++track.unhealthy_rounds;
            decision.state = HealState::kUnhealthy;
            decision.reason = reading.reason;
            if (track.unhealthy_rounds >= settings_.heal_after || track.retry_due)
                needed = HealAction::kRestart;
        }
        decision.unhealthy_rounds = track.unhealthy_rounds;

        if (needed != HealAction::kNone && !stopped_) {
            if (has_budget) {
                decision.action = needed;
                track.actions.push_back(now_s);
                track.unhealthy_rounds = 0;
                track.retry_due = false;
            } else {
                decision.state = HealState::kGaveUp;
            }
        }
        decision.actions_in_window = static_cast<int>(track.actions.size());
        if (decision.state == HealState::kGaveUp) ++round.gave_up;
        if (decision.state == HealState::kHealing) ++round.healing;
        round.vms.push_back(std::move(decision));
    }
    return round;
}

void HealPolicy::Finished(int32_t index, HealAction action, HealResult result) {
    if (action == HealAction::kNone) return;
    ++totals_[{index, action, result}];
    if (result != HealResult::kOk) vms_[index].retry_due = true;
}
