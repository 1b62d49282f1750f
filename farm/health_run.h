// The health command: one listing, two process lists a sample apart, each VM's window and adb
// asked in parallel meanwhile; once, or every --watch seconds until Ctrl+C, with the readings
// written for Prometheus when asked.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "farm/farm_request.h"
#include "farm/farm_system.h"
#include "farm/health.h"
#include "farm/tool_step.h"

struct HealthRound {
    HealthReport report;
    bool listed = false;  // the listing succeeded: the readings stand for the farm
    int exit_code = 0;
    std::string failure;  // why the exit code is not 0
    std::optional<std::string> prom_failure;
};

// Runs the rounds, telling `on_round` of each; returns the last.
HealthRound RunHealth(const FarmRequest& request, FarmSystem& system, const ToolFolders& folders,
                      const std::function<void(const HealthRound&)>& on_round);

// How many VMs' window and adb are asked at once unless --parallel says otherwise.
inline constexpr int kHealthParallel = 16;
