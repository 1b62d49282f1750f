#include "farm/run/farm_run.h"

#include <algorithm>
#include <climits>

#include "cloning/clone_commands.h"
#include "control/command_line_args.h"
#include "farm/command/request_check.h"
#include "farm/run/scheduler.h"
#include "farm/command/grammar.h"
#include "farm/run/vm_jobs.h"
#include "text/gbk_text.h"

namespace {

FarmOutcome Failure(int code, std::string message) {
    FarmOutcome outcome;
    outcome.exit_code = code;
    outcome.message = std::move(message);
    return outcome;
}

// The emulator's folder: the one given, which must hold memuc.exe, or the one discovery finds.
std::optional<std::string> FindInstallation(const FarmRequest& request, FarmSystem& system,
                                            ToolFolders* folders) {
    std::string folder;
    if (request.install_dir) {
        folder = *request.install_dir;
        if (gbk::FindLast(folder, "\\") != static_cast<int>(folder.size())) folder += "\\";
        if (!system.FileExists(folder + "memuc.exe"))
            return *request.install_dir + " holds no memuc.exe";
    } else {
        folder = system.DiscoverInstallDirectory();
        if (folder.empty())
            return std::string(
                "the emulator was not found (no install folder in the registry, no emulator "
                "shortcut on the desktop); name its folder with --install-dir DIR");
    }
    folders->install = folder;
    folders->tools = ToolsFolderBeside(folder);
    return std::nullopt;
}

// The longest line the command would run for VM `index`, checked against what Windows takes.
std::optional<std::string> LineProblem(const JobContext& context, int32_t index) {
    const FarmRequest& request = context.request;
    const bool many = context.many_vms;
    const Op op = OperationOf(request);
    OperationArgs args{index, request.numbers, request.texts};
    if (request.verb->job == VmJob::kScreenshot)
        args.texts = {ScreenshotFileName(INT32_MIN),  // the longest device file name
                      ScreenshotPath(request.texts.at(0), index, many)};
    const std::string line = OperationLine(op, args, TextStyle::kOneArgumentEach);
    const size_t length = cmdline::WideLength(line);
    if (length <= cmdline::kLongestCommandLine) return std::nullopt;
    return "the command line would be " + std::to_string(length) +
           " characters long; Windows "
           "takes at most " +
           std::to_string(cmdline::kLongestCommandLine);
}

FarmOutcome ListCommand(FarmSystem& system, const ToolFolders& folders, const Deadline& deadline) {
    FarmOutcome outcome;
    ListOutcome list{ListFarm(system, folders, deadline)};
    if (!list.listing.ok()) {
        outcome.exit_code = list.listing.ExitCode();
        outcome.message = list.listing.Failure();
    }
    outcome.what = std::move(list);
    return outcome;
}

FarmOutcome CloneCommand(const FarmRequest& request, FarmSystem& system, const ToolFolders& folders,
                         const Deadline& deadline, const FarmProgress& progress) {
    FarmOutcome outcome;
    CloneReport report =
        RunCloneJob(request, system, folders, deadline, progress.log, progress.clone_done);
    outcome.exit_code = report.exit_code;
    if (!report.failure.empty()) {
        outcome.message = report.failure;
    } else if (report.deadline_passed) {
        outcome.message = report.tool_left_running
                              ? "the deadline passed; the tool is left running"
                              : "the deadline passed before the next step; nothing was started";
    } else if (report.exit_code != kExitOk) {
        outcome.message = "a step of the clone job failed";
    }
    outcome.what = std::move(report);
    return outcome;
}

FarmOutcome SingleCommand(const JobContext& context, int32_t index) {
    FarmOutcome outcome;
    VmResult result = RunVmJob(context, index);
    outcome.exit_code = ExitCodeOf(result.verdict);
    // A `running` that was answered "not running" says so in its output: no reason to add.
    if (outcome.exit_code != kExitOk && result.verdict != Verdict::kNotRunning)
        outcome.message =
            result.failure.empty() ? std::string(VerdictKey(result.verdict)) : result.failure;
    outcome.what = SingleOutcome{std::move(result)};
    return outcome;
}

FarmOutcome SetCommand(const JobContext& context, const std::vector<int32_t>& indexes,
                       const FarmProgress& progress) {
    const FarmRequest& request = context.request;
    const ScheduleOptions options{request.parallel, request.stagger_s};
    std::vector<VmResult> results = RunOverVms(
        context.system, indexes, options,
        [&context](int32_t index) { return RunVmJob(context, index); }, progress.vm_finished);
    FarmOutcome outcome;
    SetSummary summary = SummarizeSet(results, *request.verb);
    outcome.exit_code = summary.exit_code;
    outcome.message = summary.message;
    outcome.what = SetOutcome{std::move(results), std::move(summary)};
    return outcome;
}

FarmOutcome HealthCommand(const FarmRequest& request, FarmSystem& system,
                          const ToolFolders& folders, const FarmProgress& progress) {
    FarmOutcome outcome;
    HealthRound last =
        RunHealth(request, system, folders, request.watch_s ? progress.health_round : nullptr,
                  progress.heal_event);
    outcome.exit_code = last.exit_code;
    outcome.message = last.failure;
    outcome.what = std::move(last);
    return outcome;
}

FarmOutcome VmCommand(const FarmRequest& request, FarmSystem& system, const ToolFolders& folders,
                      const Deadline& deadline, const FarmProgress& progress) {
    const VmSet& set = *request.set;
    std::vector<int32_t> indexes = set.indexes;
    if (set.NeedsListing()) {
        const FarmListing listing = ListFarm(system, folders, deadline);
        if (!listing.ok())
            return Failure(listing.ExitCode(),
                           "the set needs the VM listing, which failed: " + listing.Failure());
        indexes = ResolveVmSet(set, listing.vms);
        if (indexes.empty()) return Failure(kExitUsage, "the set names no VM");
    }
    JobContext context{system, request, folders, std::nullopt, deadline, !set.single};
    const bool many = context.many_vms;
    for (int32_t index : indexes) {
        if (std::optional<std::string> problem = IndexProblem(request, index))
            return Failure(kExitUsage, *problem);
        if (std::optional<std::string> problem = LineProblem(context, index))
            return Failure(kExitUsage, *problem);
    }
    // A screenshot's FILE from before goes first: only the file the steps write can pass.
    if (request.verb->job == VmJob::kScreenshot) {
        for (int32_t index : indexes) {
            const std::string path = ScreenshotPath(request.texts.at(0), index, many);
            if (std::optional<std::string> problem = ClearScreenshotFile(system, path))
                return Failure(kExitUsage, *problem);
        }
    }
    if (set.single) return SingleCommand(context, indexes.front());
    // Over a set, the deadline bounds each VM's work, counted from its start.
    context.invocation_deadline = {};
    if (request.deadline_ms) context.per_vm_seconds = *request.deadline_ms / 1000.0;
    if (progress.set_resolved) progress.set_resolved(indexes.size());
    return SetCommand(context, indexes, progress);
}

FarmOutcome RunCommand(const FarmRequest& request, FarmSystem& system,
                       const FarmProgress& progress) {
    if (std::optional<std::string> problem = RequestProblem(request))
        return Failure(kExitUsage, *problem);
    ToolFolders folders;
    if (std::optional<std::string> missing = FindInstallation(request, system, &folders))
        return Failure(kExitNotFound, *missing);
    Deadline deadline;
    if (request.deadline_ms) deadline.at = system.Now() + *request.deadline_ms / 1000.0;

    switch (request.verb->kind) {
        case VerbKind::kList:
            return ListCommand(system, folders, deadline);
        case VerbKind::kClone:
            return CloneCommand(request, system, folders, deadline, progress);
        case VerbKind::kWhole: {
            // A whole-farm verb names no VM: it runs once, as a single command.
            const JobContext context{system, request, folders, std::nullopt, deadline};
            if (std::optional<std::string> problem = LineProblem(context, kNoVmIndex))
                return Failure(kExitUsage, *problem);
            return SingleCommand(context, kNoVmIndex);
        }
        case VerbKind::kOneVm:
        case VerbKind::kPerVm:
            return VmCommand(request, system, folders, deadline, progress);
        case VerbKind::kHealth:
            return HealthCommand(request, system, folders, progress);
    }
    return Failure(kExitUsage, "unknown command");
}

// Whether the outcome is ok, from its verdicts: a VM's, every VM's of a set, or else the
// exit code.
bool DecideOk(const FarmOutcome& outcome) {
    if (const auto* single = std::get_if<SingleOutcome>(&outcome.what))
        return Answered(single->result.verdict);
    if (const auto* set = std::get_if<SetOutcome>(&outcome.what))
        return std::all_of(set->results.begin(), set->results.end(),
                           [](const VmResult& result) { return Answered(result.verdict); });
    return outcome.exit_code == kExitOk;
}

}  // namespace

FarmOutcome RunFarm(const FarmRequest& request, FarmSystem& system, const FarmProgress& progress) {
    FarmOutcome outcome = RunCommand(request, system, progress);
    outcome.ok = DecideOk(outcome);
    outcome.adb = system.Devices().Way();
    outcome.adb_port = system.Devices().port();
    return outcome;
}
