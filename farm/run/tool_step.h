// One command line of the companion run and judged: which line, what the tool did, whether it
// succeeded and, when not, why.
#pragma once

#include <optional>
#include <string>

#include "control/operations.h"
#include "farm/run/farm_system.h"

struct StepResult {
    // The command line, as it was started; for a request to the adb server, the request:
    // "host:transport:127.0.0.1:21513 + shell:input tap 10 20".
    std::string command;
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

// Runs an operation whose row asks the device through the adb server (via_server) there, and
// judges the reply as RunOperationStep judges a line: a FAIL, a time-out (the deadline's, when it
// came first) or a missing result phrase is a failure. Every other operation, and every operation
// once the run asks adb.exe instead of the server, runs as RunOperationStep.
StepResult RunDeviceStep(FarmSystem& system, const ToolFolders& folders, Op op,
                         const OperationArgs& args, const StepLimits& limits);

// A screenshot of VM `index` through the adb server: the device's "screencap -p" written
// straight to `path`, which must then start with the PNG signature (a file that does not is
// deleted). Nothing when the run asks adb.exe instead.
std::optional<StepResult> RunScreenshotStep(FarmSystem& system, const ToolFolders& folders,
                                            int32_t index, const std::string& path,
                                            const StepLimits& limits);
