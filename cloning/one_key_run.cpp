#include "cloning/one_key_run.h"

#include "cloning/clone_commands.h"
#include "text/gbk_text.h"

namespace {

// Runs one tool command in the tools folder. The folder is made current again before every
// command: a VM list refresh handled while the previous command ran makes the install folder
// current, and the tools are started by their bare names.
std::optional<std::string> RunInToolsDirectory(OneKeyRunHost& host, const std::string& tools_dir,
                                               const std::string& line) {
    host.MakeDirectoryCurrent(tools_dir);
    return host.RunCommand(line);
}

// Runs one step in the tools folder and logs it: the success line when the output holds the
// success word, else the failure line followed by the whole output. False when the command
// was abandoned.
bool RunStep(OneKeyRunHost& host, const std::string& tools_dir, const std::string& line,
             const char* success_word, const std::string& success_line, const char* failure_line) {
    const std::optional<std::string> output = RunInToolsDirectory(host, tools_dir, line);
    if (!output) {
        host.AppendLog(kAbandonedLine);
        host.StepDone(line, nullptr, false);
        return false;
    }
    const bool ok = gbk::Contains(*output, success_word);
    if (ok) {
        host.AppendLog(success_line);
    } else {
        host.AppendLog(failure_line);
        host.AppendLog(*output + "\r\n");
    }
    host.StepDone(line, &*output, ok);
    return true;
}

}  // namespace

void PrepareToolsDirectory(OneKeyRunHost& host, RunDirectories dirs) {
    if (dirs.install_dir.empty()) dirs.install_dir = host.DiscoverInstallDirectory();
    dirs.tools_dir = ToolsDirectoryFor(dirs.install_dir);
    host.MakeDirectoryCurrent(dirs.tools_dir);
}

void RunOneKey(OneKeyRunHost& host, RunDirectories dirs, const CloneNumbering& numbering) {
    PrepareToolsDirectory(host, dirs);
    // Copies: the program-wide texts may be replaced by nested events while a command runs.
    const std::string tools_dir = dirs.tools_dir;
    const std::string master = MasterName(host.SelectedVmIndex());

    bool stopped = !RunStep(host, tools_dir, SnapshotCommand(master), "taken", kSnapshotOkLine,
                            kSnapshotFailedLine);
    host.PumpPendingMessages();

    const int64_t count = gbk::ToInt(host.CloneCountText());
    for (int64_t i = 1; !stopped && i <= count; ++i) {
        if (host.StopRequested()) {
            stopped = true;
            break;
        }
        const std::string number = CloneNumberAt(numbering, i);
        stopped = !RunStep(host, tools_dir, CloneCommand(master, number, numbering.pad_uuid),
                           "successfully", kCloneOkPrefix + number + "\r\n", kCloneFailedLine);
        host.PumpPendingMessages();
    }
    if (stopped) host.AppendLog(kStoppedLine);
    host.AppendLog(kCompletionLine);
}
