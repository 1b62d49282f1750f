// The one-key run: snapshot the master VM, then register the requested number of linked
// clones, logging every outcome. Portable: the window, the runner and the file system are
// reached through OneKeyRunHost.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cloning/clone_commands.h"

// What running one command gave.
struct CommandOutcome {
    std::string output;    // what it printed; for a tool that did not start, why
    bool finished = true;  // false: the run stopped waiting for it (the tool is left running)
    bool failed = false;   // failed whatever it printed (the console companion's reading of a
                           // tool that did not start or exited with an error code)
};

class OneKeyRunHost {
public:
    virtual ~OneKeyRunHost() = default;

    virtual std::string DiscoverInstallDirectory() = 0;
    // Makes the folder current; failures are ignored (the tool then is not found and each
    // step is logged as a failure).
    virtual void MakeDirectoryCurrent(const std::string& folder) = 0;
    // Item value of the selected VM in the list; -1 when nothing is selected.
    virtual int32_t SelectedVmIndex() = 0;
    // How many clones to register; read once, after the snapshot step.
    virtual int64_t CloneCount() = 0;
    // Runs the line in the current folder and says what came of it.
    virtual CommandOutcome RunCommand(const ToolLine& line) = 0;
    virtual void AppendLog(const std::string& text) = 0;
    // Lets the window process what is queued (log lines appear, clicks are handled).
    virtual void PumpPendingMessages() = 0;
    // True once the user asked to stop the run (or closed the window).
    virtual bool StopRequested() = 0;
    // Told after each tool command has been judged: its line, its output (null when it was
    // abandoned) and whether it succeeded.
    virtual void StepDone(const std::string& /*line*/, const std::string* /*output*/, bool /*ok*/) {
    }
    // Called once a clone is registered, before its step is logged: work that belongs to the
    // new clone. A text comes back when that work failed; the clone's step then fails with it.
    virtual std::optional<std::string> CloneRegistered(const std::string& /*clone_number*/) {
        return std::nullopt;
    }
};

// Program-wide directories the run reads and writes.
struct RunDirectories {
    std::string& install_dir;
    std::string& tools_dir;
};

struct OneKeyOptions {
    CloneNumbering numbering;  // the window numbers from 101
    // Clone from the snapshot this run took, by its UUID; when the snapshot fails (or its
    // reply has no UUID) no clone is registered.
    bool bind_to_snapshot_uuid = false;
};

struct OneKeyResult {
    bool snapshot_ok = false;
    int64_t attempted = 0;  // clone commands run
    int64_t succeeded = 0;
    bool stopped = false;    // the user asked to stop, or a command was abandoned
    bool abandoned = false;  // a command did not end and was no longer waited for
};

// Sets the tools directory from the install directory (rediscovered when empty) and makes it
// current.
void PrepareToolsDirectory(OneKeyRunHost& host, RunDirectories dirs);

// The whole run. Every requested clone is attempted unless the user asks to stop (or, bound
// to the snapshot's UUID, the snapshot failed); the run always ends with the completion line.
OneKeyResult RunOneKey(OneKeyRunHost& host, RunDirectories dirs, const OneKeyOptions& options = {});

// The window's reading of its count box: full-width digits as ASCII, the leading number,
// 0 for none, kept within the 32-bit range.
int64_t CloneCountOf(const std::string& text);

// Log texts of the run.
inline constexpr const char* kSnapshotOkLine = "设置母盘成功！\r\n";
inline constexpr const char* kSnapshotFailedLine = "设置母盘失败！\r\n";
inline constexpr const char* kCloneOkPrefix = "快照设置成功：MEmu_";
inline constexpr const char* kCloneFailedLine = "快照设置失败！\r\n";
inline constexpr const char* kCompletionLine = "-------完成--------\r\n";
inline constexpr const char* kStoppedLine = "已按要求停止，其余克隆未执行。\r\n";
inline constexpr const char* kAbandonedLine = "当前命令没有结束，已停止等待它。\r\n";
inline constexpr const char* kNoSnapshotUuidLine = "快照的回复中没有 UUID。\r\n";
inline constexpr const char* kNoClonesLine = "母盘快照失败，未注册任何克隆。\r\n";
