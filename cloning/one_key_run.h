// The one-key run: snapshot the master VM, then register the requested number of linked
// clones, logging every outcome. Portable: the window, the runner and the file system are
// reached through OneKeyRunHost.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cloning/clone_commands.h"

class OneKeyRunHost {
public:
    virtual ~OneKeyRunHost() = default;

    virtual std::string DiscoverInstallDirectory() = 0;
    // Makes the folder current; failures are ignored (the tool then is not found and each
    // step is logged as a failure).
    virtual void MakeDirectoryCurrent(const std::string& folder) = 0;
    // Item value of the selected VM in the list; -1 when nothing is selected.
    virtual int32_t SelectedVmIndex() = 0;
    virtual std::string CloneCountText() = 0;
    // Runs the line through the command runner and returns its captured output; nothing when
    // the user stopped the run and the command did not end within a grace period (the tool is
    // left running unobserved).
    virtual std::optional<std::string> RunCommand(const std::string& line) = 0;
    virtual void AppendLog(const std::string& text) = 0;
    // Lets the window process what is queued (log lines appear, clicks are handled).
    virtual void PumpPendingMessages() = 0;
    // True once the user asked to stop the run (or closed the window).
    virtual bool StopRequested() = 0;
    // Told after each tool command has been judged: its line, its output (null when it was
    // abandoned) and whether the success word was found.
    virtual void StepDone(const std::string& /*line*/, const std::string* /*output*/, bool /*ok*/) {
    }
};

// Program-wide directories the run reads and writes.
struct RunDirectories {
    std::string& install_dir;
    std::string& tools_dir;
};

// Sets the tools directory from the install directory (rediscovered when empty) and makes it
// current.
void PrepareToolsDirectory(OneKeyRunHost& host, RunDirectories dirs);

// The whole run. Every requested clone is attempted unless the user asks to stop; the run
// always ends with the completion line. The window numbers its clones from 101.
void RunOneKey(OneKeyRunHost& host, RunDirectories dirs, const CloneNumbering& numbering = {});

// Log texts of the run.
inline constexpr const char* kSnapshotOkLine = "设置母盘成功！\r\n";
inline constexpr const char* kSnapshotFailedLine = "设置母盘失败！\r\n";
inline constexpr const char* kCloneOkPrefix = "快照设置成功：MEmu_";
inline constexpr const char* kCloneFailedLine = "快照设置失败！\r\n";
inline constexpr const char* kCompletionLine = "-------完成--------\r\n";
inline constexpr const char* kStoppedLine = "已按要求停止，其余克隆未执行。\r\n";
inline constexpr const char* kAbandonedLine = "当前命令没有结束，已停止等待它。\r\n";
