// One command line of the companion run and judged: which line, what the tool did, whether it
// succeeded and, when not, why.
#pragma once

#include <optional>
#include <string>

#include "control/operations.h"
#include "farm/farm_system.h"

struct StepResult {
    std::string command;  // the command line, as it was started
    ToolRun run;
    bool ok = false;
    std::string failure;  // empty when ok
    double seconds = 0;
};

// When the work must be given up: a point on the system's clock, or never.
struct Deadline {
    std::optional<double> at;
    bool Passed(FarmSystem& system) const { return at && system.Now() >= *at; }
};

// Where each tool lives: memuc.exe and adb.exe in the install folder, MEmuManage.exe in the
// tools folder beside it.
struct ToolFolders {
    std::string install;
    std::string tools;
};

struct StepLimits {
    int timeout_ms = 0;
    Deadline deadline;
};

// Runs the operation's line (texts one argument each) from the install folder and judges it.
// `detached`: started without waiting.
StepResult RunOperationStep(FarmSystem& system, const ToolFolders& folders, Op op,
                            const OperationArgs& args, const StepLimits& limits,
                            bool detached = false);
