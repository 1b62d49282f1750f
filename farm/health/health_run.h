// The health command: one listing, two process lists a sample apart, each VM's window and adb
// asked in parallel meanwhile; once, or every --watch seconds until Ctrl+C, with the readings
// written for Prometheus when asked.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "farm/command/request.h"
#include "farm/run/farm_system.h"
#include "farm/health/heal_run.h"
#include "farm/health/heal_view.h"
#include "farm/health/health.h"
#include "farm/run/tool_step.h"

struct HealthRound {
    HealthReport report;
    bool listed = false;  // the listing succeeded: the readings stand for the farm
    int exit_code = 0;
    std::string failure;  // why the exit code is not 0
    std::optional<std::string> prom_failure;
    std::vector<int32_t> missing;  // VMs the set names that the emulator does not list
    std::optional<HealView> heal;  // --heal: each VM's heal state, the actions so far
};

using HealthRoundSink = std::function<void(const HealthRound&)>;
using HealEventSink = std::function<void(const HealEvent&)>;

// Runs the rounds, telling `on_round` of each, and with --heal `on_heal` of each action as it
// is seen to have ended (before the round that saw it); returns the last round. After Ctrl+C a
// healing watch hands out no new action and waits for the running ones before it returns.
HealthRound RunHealth(const FarmRequest& request, FarmSystem& system, const ToolFolders& folders,
                      const HealthRoundSink& on_round, const HealEventSink& on_heal = nullptr,
                      HealPace pace = HealPace::kBackground);
