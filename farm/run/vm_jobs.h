// The work of one VM for a command over a set, and of a command that names no VM.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "farm/command/request.h"
#include "farm/run/tool_step.h"
#include "farm/command/grammar.h"
#include "farm/run/vm_result.h"

struct JobContext {
    FarmSystem& system;
    const FarmRequest& request;
    ToolFolders folders;
    // Seconds the work of one VM may take (--deadline over a set), from its start; or the
    // whole invocation's deadline (one VM), fixed beforehand.
    std::optional<double> per_vm_seconds;
    Deadline invocation_deadline;
    bool many_vms = false;  // the command acts on more than one VM
};

// The index given for a command that names no VM (a whole-farm verb): no line holds it.
inline constexpr int32_t kNoVmIndex = 0;

// Runs the request's command for VM `index` (ignored by commands that name no VM).
VmResult RunVmJob(const JobContext& context, int32_t index);

// Removes a file left at a screenshot's `path` from before, so that the steps can only succeed
// on the file they wrote themselves. Why it is still there, or nothing.
std::optional<std::string> ClearScreenshotFile(FarmSystem& system, const std::string& path);

// The local file a screenshot of VM `index` goes to: FILE with {index} replaced; over more than
// one VM a FILE without it gets "-<index>" before its extension.
std::string ScreenshotPath(const std::string& file, int32_t index, bool many);
