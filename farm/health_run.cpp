#include "farm/health_run.h"

#include <algorithm>
#include <map>
#include <thread>

#include "farm/health_format.h"
#include "farm/listing.h"
#include "farm/scheduler.h"
#include "text/gbk_text.h"

namespace {

// adb must print "1" for sys.boot_completed within this long.
constexpr int kAdbAnswerMs = 3000;

// What the window and adb of one VM said.
struct Asked {
    WindowAnswer window = WindowAnswer::kNone;
    std::optional<bool> adb;
};

bool AdbAnswers(FarmSystem& system, const ToolFolders& folders, int32_t index) {
    StepLimits limits;
    limits.timeout_ms = kAdbAnswerMs;
    limits.deadline.at = system.Now() + kAdbAnswerMs / 1000.0;
    const StepResult step =
        RunDeviceStep(system, folders, Op::kBootCompleted, {index, {}, {}}, limits);
    return step.ok && SaysBooted(step.run.output);
}

// Asks every running VM's window and adb, `parallel` at a time; one VM's probe never waits on
// another's.
std::map<int32_t, Asked> AskVms(FarmSystem& system, const ToolFolders& folders,
                                const std::vector<VmRecord>& vms, int parallel) {
    std::map<int32_t, Asked> asked;
    std::vector<int32_t> running;
    for (const VmRecord& vm : vms) {
        if (!vm.started) continue;
        running.push_back(vm.index);
        asked[vm.index] = {};  // filled by one worker each; the map does not change shape
    }
    std::map<int32_t, int32_t> windows;
    for (const VmRecord& vm : vms) windows[vm.index] = vm.window;
    RunOverVms(
        system, running, {parallel, 0},
        [&](int32_t index) {
            Asked& answer = asked.at(index);
            answer.window = system.Probes().AskWindow(windows.at(index));
            // A VM whose port would be beyond 65535 has no adb to ask: left unknown.
            if (index <= kLastAdbIndex) answer.adb = AdbAnswers(system, folders, index);
            VmResult result;
            result.index = index;
            result.ok = true;
            return result;
        },
        nullptr);
    return asked;
}

std::optional<ProcessReading> Find(const std::optional<std::vector<ProcessReading>>& list,
                                   int32_t pid) {
    if (!list || pid == 0) return std::nullopt;
    for (const ProcessReading& reading : *list)
        if (reading.pid == static_cast<uint32_t>(pid)) return reading;
    return std::nullopt;
}

HealthRound SampleOnce(const FarmRequest& request, FarmSystem& system, const ToolFolders& folders) {
    HealthRound round;
    Deadline deadline;
    if (request.deadline_ms) deadline.at = system.Now() + *request.deadline_ms / 1000.0;
    const FarmListing listing = ListFarm(system, folders, deadline);
    HealthProbes& probes = system.Probes();
    round.report.sampled_at = probes.SystemTime();
    if (!listing.ok()) {
        round.exit_code = listing.step.run.end == RunEnd::kAbandoned ? kExitDeadline : kExitFailed;
        round.failure = "the VM listing failed: " + listing.Failure();
        return round;
    }
    round.listed = true;
    VmSet all;
    all.kind = VmSet::Kind::kAll;
    const std::vector<int32_t> wanted = ResolveVmSet(request.set ? *request.set : all, listing.vms);
    std::vector<VmRecord> vms;
    std::vector<int32_t> missing;
    for (int32_t index : wanted) {
        const auto found = std::find_if(listing.vms.begin(), listing.vms.end(),
                                        [index](const VmRecord& vm) { return vm.index == index; });
        if (found == listing.vms.end()) {
            missing.push_back(index);
        } else {
            vms.push_back(*found);
        }
    }

    SampleClock clock;
    clock.cores = probes.Cores();
    const std::optional<std::vector<ProcessReading>> before = probes.ProcessList();
    clock.before = probes.SystemTime();
    const double started = system.Now();
    std::map<int32_t, Asked> asked;
    std::thread asking(
        [&] { asked = AskVms(system, folders, vms, std::max(request.parallel, 1)); });
    system.Sleep(request.sample_s - (system.Now() - started));
    const std::optional<std::vector<ProcessReading>> after = probes.ProcessList();
    clock.after = probes.SystemTime();
    asking.join();

    const HealthThresholds thresholds{request.max_cpu, request.max_private_mb};
    for (const VmRecord& vm : vms) {
        HealthInputs inputs;
        inputs.vm = vm;
        inputs.list_read = before.has_value() && after.has_value();
        inputs.before = Find(before, vm.headless_pid);
        inputs.after = Find(after, vm.headless_pid);
        const auto found = asked.find(vm.index);
        if (found != asked.end()) {
            inputs.window = found->second.window;
            inputs.adb = found->second.adb;
        }
        round.report.vms.push_back(ReadHealth(inputs, clock, thresholds));
    }
    round.report.sampled_at = clock.after;
    const int unhealthy = round.report.Unhealthy();
    if (unhealthy > 0) {
        round.exit_code = kExitFailed;
        round.failure = std::to_string(unhealthy) + " of " +
                        std::to_string(round.report.Running()) + " running VMs unhealthy";
    }
    // A VM the set names but the emulator does not list cannot be healthy.
    for (int32_t index : missing) {
        round.exit_code = kExitFailed;
        round.failure += (round.failure.empty() ? "" : "; ") + std::string("VM ") +
                         gbk::Decimal(index) + " is not listed";
    }
    return round;
}

// Only a round that could list the VMs is written: a failed one keeps the last good file, so
// that its timestamp shows the readings are stale.
void WriteProm(const FarmRequest& request, FarmSystem& system, HealthRound& round) {
    if (!request.prom_file || !round.listed) return;
    const std::string text = PrometheusText(
        round.report, [&system](std::string_view gbk) { return system.Utf8FromGbk(gbk); });
    round.prom_failure = system.Files().Replace(*request.prom_file, text);
    if (!round.prom_failure) return;
    round.exit_code = std::max<int>(round.exit_code, kExitFailed);
    round.failure =
        (round.failure.empty() ? "" : round.failure + "; ") +
        "the Prometheus file was not written (the old one is kept): " + *round.prom_failure;
}

}  // namespace

HealthRound RunHealth(const FarmRequest& request, FarmSystem& system, const ToolFolders& folders,
                      const std::function<void(const HealthRound&)>& on_round) {
    std::optional<HealthRound> last;
    for (;;) {
        const double started = system.Now();
        HealthRound round = SampleOnce(request, system, folders);
        // A round cut short by Ctrl+C asked only some VMs: the one before it stands.
        if (last && system.StopRequested()) return *last;
        WriteProm(request, system, round);
        if (on_round) on_round(round);
        if (!request.watch_s || system.StopRequested()) return round;
        last = std::move(round);
        system.Sleep(*request.watch_s - (system.Now() - started));
        if (system.StopRequested()) return *last;
    }
}
