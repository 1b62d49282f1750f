#include "cloning/one_key_run.h"

#include "cloning/clone_commands.h"
#include "text/gbk_text.h"

namespace {

struct StepReport {
    bool finished = false;
    bool ok = false;
    std::string output;
};

// Runs one tool command in the tools folder. The folder is made current again before every
// command: a VM list refresh handled while the previous command ran makes the install folder
// current, and the tools are started by their bare names.
StepReport RunStepCommand(OneKeyRunHost& host, const std::string& tools_dir, const ToolLine& line,
                          const char* success_word) {
    host.MakeDirectoryCurrent(tools_dir);
    CommandOutcome outcome = host.RunCommand(line);
    StepReport report;
    report.finished = outcome.finished;
    report.ok = outcome.finished && !outcome.failed && gbk::Contains(outcome.output, success_word);
    report.output = std::move(outcome.output);
    return report;
}

void LogFailure(OneKeyRunHost& host, const char* failure_line, const std::string& output) {
    host.AppendLog(failure_line);
    host.AppendLog(output + "\r\n");
}

}  // namespace

int64_t CloneCountOf(const std::string& text) {
    return gbk::ToInt(text);
}

void PrepareToolsDirectory(OneKeyRunHost& host, RunDirectories dirs) {
    if (dirs.install_dir.empty()) dirs.install_dir = host.DiscoverInstallDirectory();
    dirs.tools_dir = ToolsDirectoryFor(dirs.install_dir);
    host.MakeDirectoryCurrent(dirs.tools_dir);
}

OneKeyResult RunOneKey(OneKeyRunHost& host, RunDirectories dirs, const OneKeyOptions& options) {
    PrepareToolsDirectory(host, dirs);
    // Copies: the program-wide texts may be replaced by nested events while a command runs.
    const std::string tools_dir = dirs.tools_dir;
    const ClonePlan plan{MasterName(host.SelectedVmIndex()), options.numbering,
                         options.bind_to_snapshot_uuid};
    OneKeyResult result;

    const std::string snapshot_line = plan.SnapshotLine();
    StepReport snapshot = RunStepCommand(host, tools_dir, plan.SnapshotStep(), "taken");
    std::string snapshot_ref = kSnapshotName;
    bool may_clone = snapshot.finished;
    if (!snapshot.finished) {
        host.AppendLog(kAbandonedLine);
        host.StepDone(snapshot_line, nullptr, false);
    } else {
        bool missing_uuid = false;
        if (snapshot.ok && plan.bind_to_snapshot_uuid) {
            const std::optional<std::string> uuid = SnapshotUuidOf(snapshot.output);
            missing_uuid = !uuid;
            snapshot.ok = uuid.has_value();
            if (uuid) snapshot_ref = *uuid;
        }
        if (snapshot.ok) {
            host.AppendLog(kSnapshotOkLine);
        } else {
            LogFailure(host, kSnapshotFailedLine, snapshot.output);
        }
        if (missing_uuid) host.AppendLog(kNoSnapshotUuidLine);
        host.StepDone(snapshot_line, &snapshot.output, snapshot.ok);
        result.snapshot_ok = snapshot.ok;
        // A run bound to its snapshot has nothing to clone from when that failed.
        if (!snapshot.ok && plan.bind_to_snapshot_uuid) {
            host.AppendLog(kNoClonesLine);
            may_clone = false;
        }
    }
    result.abandoned = !snapshot.finished;
    host.PumpPendingMessages();

    const int64_t count = may_clone ? host.CloneCount() : 0;
    for (int64_t i = 1; may_clone && i <= count; ++i) {
        if (host.StopRequested()) {
            result.stopped = true;
            break;
        }
        const std::string number = plan.CloneNumberText(i);
        const ToolLine tool_line = plan.CloneStep(i, snapshot_ref);
        const std::string line = tool_line.Text();
        StepReport step = RunStepCommand(host, tools_dir, tool_line, "successfully");
        ++result.attempted;
        if (!step.finished) {
            host.AppendLog(kAbandonedLine);
            host.StepDone(line, nullptr, false);
            result.abandoned = true;
            break;
        }
        if (step.ok) {
            if (std::optional<std::string> failure = host.CloneRegistered(number)) {
                step.ok = false;
                step.output = *failure;
            }
        }
        if (step.ok) {
            host.AppendLog(kCloneOkPrefix + number + "\r\n");
            ++result.succeeded;
        } else {
            LogFailure(host, kCloneFailedLine, step.output);
        }
        host.StepDone(line, &step.output, step.ok);
        host.PumpPendingMessages();
    }
    if (result.abandoned) result.stopped = true;
    if (result.stopped) host.AppendLog(kStoppedLine);
    host.AppendLog(kCompletionLine);
    return result;
}
