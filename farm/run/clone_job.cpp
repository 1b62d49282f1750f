#include "farm/run/clone_job.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "control/operations.h"
#include "farm/run/listing.h"
#include "install/console_builds.h"
#include "install/manager_console.h"
#include "text/gbk_text.h"

namespace {

// A clone numbered above the highest adb index is registered, but no adb verb can reach it.
void NoteAdbPort(int64_t clone_number, CloneReport& report) {
    if (clone_number <= kLastAdbIndex) return;
    const std::string number = gbk::Decimal(clone_number);
    report.notes.push_back("VM " + number + " has no adb port: " + gbk::Decimal(kFirstAdbPort) +
                           " + 10 x " + number + " is beyond 65535");
}

const ConsoleBuildInfo* BuildFor(ConsoleVersion version) {
    switch (version) {
        case ConsoleVersion::k721:
            return &kConsoleBuild721;
        case ConsoleVersion::k722:
            return &kConsoleBuild722;
        case ConsoleVersion::kNone:
            break;
    }
    return nullptr;
}

// The one-key run's view of the console companion: every command started directly in the
// folder the run made current, judged also by whether it started and its exit code; log texts
// go to the caller as they come.
class CompanionRunHost : public OneKeyRunHost {
public:
    CompanionRunHost(const FarmRequest& request, FarmSystem& system, const ToolFolders& folders,
                     const Deadline& deadline, CloneReport& report,
                     const std::function<void(const std::string&)>& log,
                     const std::function<void(int64_t, int64_t)>& clone_done)
        : request_(request),
          system_(system),
          folders_(folders),
          limits_{0, deadline},
          report_(report),
          log_(log),
          clone_done_(clone_done) {}

    std::string DiscoverInstallDirectory() override { return folders_.install; }
    // Every line of the run is a MEmuManage.exe line: it starts from the tools folder found
    // beside the install folder (a full path), whatever folder the run names.
    void MakeDirectoryCurrent(const std::string&) override {}
    int32_t SelectedVmIndex() override { return request_.master; }
    int64_t CloneCount() override { return request_.count; }
    CommandOutcome RunCommand(const ToolLine& line) override {
        if (limits_.deadline.Passed(system_)) {
            report_.deadline_passed = true;
            return {"", /*finished=*/false, /*failed=*/true};  // nothing is started
        }
        ToolRunOptions options;
        if (limits_.deadline.at) {
            const Deadline deadline = limits_.deadline;
            options.abandon = [this, deadline] { return deadline.Passed(system_); };
        }
        // From the tools folder found beside the install folder, by its full path.
        const ToolRun run =
            system_.Tools().Run({folders_.tools, line.program, line.arguments}, options);
        CommandOutcome outcome;
        outcome.finished = run.end == RunEnd::kExited || run.end == RunEnd::kNotStarted;
        outcome.failed = run.end != RunEnd::kExited || run.exit_code != 0;
        outcome.output = run.end == RunEnd::kNotStarted ? run.error : run.output;
        if (run.end == RunEnd::kAbandoned)
            report_.deadline_passed = report_.tool_left_running = true;
        return outcome;
    }
    void AppendLog(const std::string& text) override {
        if (log_) log_(text);
    }
    void PumpPendingMessages() override {}
    bool StopRequested() override { return system_.StopRequested(); }
    void StepDone(const std::string& line, const std::string* output, bool ok) override {
        report_.steps.push_back({line, ok, output != nullptr, output ? *output : std::string()});
        // The clone's randomize step ran after its clone line: it is reported after it too.
        if (randomize_step_) report_.steps.push_back(*std::exchange(randomize_step_, {}));
        // The snapshot's step comes first; every later one is a clone's.
        if (steps_done_++ > 0 && clone_done_) clone_done_(steps_done_ - 1, request_.count);
    }
    std::optional<std::string> CloneRegistered(const std::string& clone_number) override {
        NoteAdbPort(gbk::ToInt64(clone_number), report_);
        if (!request_.randomize) return std::nullopt;
        const int32_t index = static_cast<int32_t>(gbk::ToInt64(clone_number));
        const StepResult step =
            RunOperationStep(system_, folders_, Op::kRandomizeVm, {index, {}, {}}, limits_);
        randomize_step_ = CloneStepReport{step.command, step.ok, step.run.end != RunEnd::kAbandoned,
                                          step.run.output};
        if (step.run.end == RunEnd::kAbandoned)
            report_.deadline_passed = report_.tool_left_running = true;
        if (step.ok) return std::nullopt;
        return "MEmu_" + clone_number + " was registered, but " + step.command +
               " failed: " + step.failure + "\r\n" + step.run.output;
    }

private:
    const FarmRequest& request_;
    FarmSystem& system_;
    const ToolFolders& folders_;
    StepLimits limits_;
    CloneReport& report_;
    const std::function<void(const std::string&)>& log_;
    const std::function<void(int64_t, int64_t)>& clone_done_;
    std::optional<CloneStepReport> randomize_step_;
    int64_t steps_done_ = 0;
};

// Writes the asked-for manager console build (or, in a dry run, says whether it could).
void ConsoleStep(const FarmRequest& request, FarmSystem& system, const ToolFolders& folders,
                 CloneReport& report, const std::function<void(const std::string&)>& log) {
    const ConsoleBuildInfo* info = BuildFor(request.console);
    if (!info) return;
    const std::string target = folders.install + kConsoleFileName;
    ConsoleWriteReport write;
    write.version = info->version;
    if (request.dry_run) {
        const ConsoleBuild found = system.Builds().Find(*info);
        write.ok = found.bytes.has_value();
        write.message = write.ok ? std::string("MEmuConsole.exe: would write the ") +
                                       info->version + " build to " + target
                                 : gbk::FirstLine(MissingBuildLine(found, *info));
    } else {
        const ConsoleChoice choice{request.console == ConsoleVersion::k721,
                                   request.console == ConsoleVersion::k722};
        const std::vector<std::string> lines =
            WriteManagerConsole(choice, folders.install, system.Builds(), system.Files());
        write.ok = lines.empty();
        write.message =
            write.ok ? std::string("MEmuConsole.exe: the ") + info->version + " build was written."
                     : gbk::FirstLine(lines.front());
    }
    if (log) log(write.message + "\r\n");
    report.console = write;
}

// --first next: one above the highest listed VM (and the master, listed or not), at least the first
// clone number.
bool NumberFromListing(const FarmRequest& request, const FarmListing& listing,
                       CloneReport& report) {
    int64_t highest = request.master;
    for (const VmRecord& vm : listing.vms) highest = std::max<int64_t>(highest, vm.index);
    report.first = std::max<int64_t>(kFirstCloneNumber, highest + 1);
    const int64_t last = report.first + report.count - 1;  // --count is at least 1
    if (!CloneNumbersFit(report.first, report.count) || (request.randomize && last > INT32_MAX)) {
        report.failure = "--first next gives clone numbers from " + gbk::Decimal(report.first) +
                         ", beyond the highest a clone can have";
        return false;
    }
    return true;
}

// The first clone number, in numbering order, that the master or a listed VM already has,
// told as the refusal; none when every number is free. The service would register a clone
// over an existing VM's name, so a clash is refused before anything runs.
std::optional<std::string> NumberClash(const FarmRequest& request, const FarmListing& listing,
                                       const CloneReport& report) {
    const int64_t last = report.first + report.count - 1;
    std::optional<int64_t> clash;
    std::string what;
    const auto consider = [&](int64_t index, const std::string& name) {
        if (index < report.first || index > last || (clash && *clash <= index)) return;
        clash = index;
        what = name;
    };
    // The master first: at its own number it is named as the master.
    consider(request.master, "the master, VM " + gbk::Decimal(request.master) + " (" +
                                 gbk::Quoted(MasterName(request.master)) + ")");
    for (const VmRecord& vm : listing.vms)
        consider(vm.index,
                 "VM " + gbk::Decimal(vm.index) + " (" + gbk::Quoted(vm.title) + "), which exists");
    if (!clash) return std::nullopt;
    return "clone number " + gbk::Decimal(*clash) + " is " + what +
           "; a clone must not reuse a VM's number: give --first above the highest listed VM, "
           "or --first next";
}

}  // namespace

CloneReport RunCloneJob(const FarmRequest& request, FarmSystem& system, const ToolFolders& folders,
                        const Deadline& deadline,
                        const std::function<void(const std::string&)>& log,
                        const std::function<void(int64_t, int64_t)>& clone_done) {
    CloneReport report;
    report.master = MasterName(request.master);
    report.first = request.first;
    report.count = request.count;
    report.tools_dir = folders.tools;
    report.dry_run = request.dry_run;
    report.exit_code = kExitFailed;
    // Every numbering is checked against the listing, so nothing runs without it. The numbers
    // and titles are all the checks read: the reply alone, without the windows and processes.
    const FarmListing listing = ListFarm(system, folders, deadline, ListDetail::kReplyOnly);
    if (!listing.ok()) {
        report.failure = std::string(request.first_next ? "--first next needs the VM listing"
                                                        : "clone checks its numbers against "
                                                          "the VM listing") +
                         ", which failed: " + listing.Failure();
        report.exit_code = listing.ExitCode();
        report.deadline_passed = report.exit_code == kExitDeadline;
        return report;
    }
    if (request.first_next && !NumberFromListing(request, listing, report)) return report;
    if (std::optional<std::string> clash = NumberClash(request, listing, report)) {
        report.failure = std::move(*clash);
        report.exit_code = kExitUsage;
        return report;
    }

    ConsoleStep(request, system, folders, report, log);
    const bool console_ok = !report.console || report.console->ok;
    const OneKeyOptions options{{report.first, /*pad_uuid=*/true},
                                /*bind_to_snapshot_uuid=*/true};
    if (request.dry_run) {
        const ClonePlan plan{report.master, options.numbering, options.bind_to_snapshot_uuid};
        report.planned.push_back(plan.SnapshotLine());
        for (int64_t i = 1; i <= report.count; ++i) {
            if (system.StopRequested() || deadline.Passed(system)) break;
            report.planned.push_back(plan.CloneLine(i, kPlannedSnapshotUuid));
            NoteAdbPort(report.first + i - 1, report);
        }
        report.deadline_passed = deadline.Passed(system);
        report.exit_code = report.deadline_passed ? kExitDeadline
                           : console_ok           ? kExitOk
                                                  : kExitFailed;
        return report;
    }

    CompanionRunHost host(request, system, folders, deadline, report, log, clone_done);
    std::string install = folders.install;
    std::string tools;
    report.result = RunOneKey(host, {install, tools}, options);
    if (report.result.snapshot_ok && !report.steps.empty())
        report.snapshot_uuid = SnapshotUuidOf(report.steps.front().output);
    const bool all_done = report.result.snapshot_ok && !report.result.stopped &&
                          report.result.succeeded == report.count;
    report.exit_code = report.deadline_passed   ? kExitDeadline
                       : console_ok && all_done ? kExitOk
                                                : kExitFailed;
    return report;
}
