// The window's one-key job from the command line: the VM listing first (no clone may take the
// number of a listed VM or of the master), optionally the manager console write, then the
// snapshot of the master VM and the linked clones of that very snapshot, each step reported as
// it ends.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cloning/one_key_run.h"
#include "farm/command/request.h"
#include "farm/run/tool_step.h"

struct CloneStepReport {
    std::string command;
    bool ok = false;
    bool finished = true;  // false: abandoned at the deadline
    std::string output;
};

struct ConsoleWriteReport {
    std::string version;
    bool ok = false;
    std::string message;  // one line, without its line end
};

struct CloneReport {
    std::string master;
    int64_t first = 0;
    int64_t count = 0;
    std::string tools_dir;
    bool dry_run = false;
    std::vector<std::string> planned;  // the dry run's lines
    std::optional<ConsoleWriteReport> console;
    std::vector<CloneStepReport> steps;  // the snapshot first, then each clone (and randomize)
    std::optional<std::string> snapshot_uuid;
    OneKeyResult result;
    // Why the job could not run at all: no listing, or a clone number that a VM already has.
    std::string failure;
    bool deadline_passed = false;
    bool tool_left_running = false;  // a step was given up at the deadline while it ran
    // What a script should know of the clones planned or registered, one line each, without a
    // line end: "VM 4404 has no adb port: ...".
    std::vector<std::string> notes;
    int exit_code = 0;
};

// `log` receives the run's log texts as they come (the window's lines and ours, GBK);
// `clone_done` how many clone steps have ended, after each one's log text, and of how many.
CloneReport RunCloneJob(const FarmRequest& request, FarmSystem& system, const ToolFolders& folders,
                        const Deadline& deadline,
                        const std::function<void(const std::string&)>& log,
                        const std::function<void(int64_t done, int64_t count)>& clone_done = {});

// What the dry run shows where a clone line names the snapshot that the run would take.
inline constexpr const char* kPlannedSnapshotUuid = "<UUID of the snapshot taken>";
