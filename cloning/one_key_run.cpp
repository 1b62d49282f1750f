#include "cloning/one_key_run.h"

#include "cloning/clone_commands.h"
#include "text/gbk_text.h"

namespace {

// Runs one tool command in the tools folder. The folder is made current again before every
// command: a VM list refresh handled while the previous command ran makes the install folder
// current, and the tools are started by their bare names.
std::string RunInToolsDirectory(OneKeyRunHost& host, const std::string& tools_dir,
                                const std::string& line) {
    host.MakeDirectoryCurrent(tools_dir);
    return host.RunCommand(line);
}

void LogFailure(OneKeyRunHost& host, const char* line, const std::string& output) {
    host.AppendLog(line);
    host.AppendLog(output + "\r\n");
}

}  // namespace

void PrepareToolsDirectory(OneKeyRunHost& host, RunDirectories dirs) {
    if (dirs.install_dir.empty()) dirs.install_dir = host.DiscoverInstallDirectory();
    dirs.tools_dir = ToolsDirectoryFor(dirs.install_dir);
    host.MakeDirectoryCurrent(dirs.tools_dir);
}

void RunOneKey(OneKeyRunHost& host, RunDirectories dirs) {
    PrepareToolsDirectory(host, dirs);
    // Copies: the program-wide texts may be replaced by nested events while a command runs.
    const std::string tools_dir = dirs.tools_dir;
    const std::string master = MasterName(host.SelectedVmIndex());

    std::string output = RunInToolsDirectory(host, tools_dir, SnapshotCommand(master));
    if (gbk::Contains(output, "taken")) {
        host.AppendLog(kSnapshotOkLine);
    } else {
        LogFailure(host, kSnapshotFailedLine, output);
    }
    host.PumpPendingMessages();

    const int64_t count = gbk::ToInt(host.CloneCountText());
    bool stopped = false;
    for (int64_t i = 1; i <= count; ++i) {
        if (host.StopRequested()) {
            stopped = true;
            break;
        }
        const std::string number = CloneNumber(i);
        output = RunInToolsDirectory(host, tools_dir, CloneCommand(master, number));
        if (gbk::Contains(output, "successfully")) {
            host.AppendLog(kCloneOkPrefix + number + "\r\n");
        } else {
            LogFailure(host, kCloneFailedLine, output);
        }
        host.PumpPendingMessages();
    }
    if (stopped) host.AppendLog(kStoppedLine);
    host.AppendLog(kCompletionLine);
}
