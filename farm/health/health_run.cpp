#include "farm/health/health_run.h"

#include <algorithm>
#include <map>
#include <set>
#include <thread>

#include "farm/health/prometheus_text.h"
#include "farm/run/listing.h"
#include "farm/run/scheduler.h"
#include "text/gbk_text.h"

namespace {

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
    std::vector<const VmRecord*> running;
    for (const VmRecord& vm : vms)
        if (vm.started) running.push_back(&vm);
    std::vector<Asked> answers(running.size());  // one worker fills each
    RunPositions(system, running.size(), {parallel, 0}, [&](size_t position, double) {
        const VmRecord& vm = *running[position];
        Asked& answer = answers[position];
        answer.window = system.Probes().AskWindow(vm.window);
        // A VM whose port would be beyond 65535 has no adb to ask: left unknown.
        if (vm.index <= kLastAdbIndex) answer.adb = AdbAnswers(system, folders, vm.index);
    });
    std::map<int32_t, Asked> asked;
    for (size_t i = 0; i < running.size(); ++i) asked[running[i]->index] = answers[i];
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
        round.exit_code = listing.ExitCode();
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
    round.missing = std::move(missing);
    return round;
}

// The round's exit code and why: without --heal any running VM that is unhealthy fails it;
// with --heal any VM of the set that is not up and healthy, whatever is being done about it.
void JudgeRound(HealthRound& round) {
    if (!round.listed) return;
    if (round.heal) {
        std::map<HealState, int> counts;
        for (const VmHealth& vm : round.report.vms) ++counts[round.heal->StateOf(vm.index)];
        const int healthy = counts[HealState::kHealthy];
        const int total = static_cast<int>(round.report.vms.size());
        if (healthy < total) {
            round.exit_code = kExitFailed;
            round.failure = std::to_string(total - healthy) + " of " + std::to_string(total) +
                            " VMs not up and healthy:";
            const char* separator = " ";
            for (HealState state : {HealState::kUnhealthy, HealState::kNotRunning,
                                    HealState::kHealing, HealState::kGaveUp}) {
                if (counts[state] == 0) continue;
                std::string name(HealStateName(state));
                std::replace(name.begin(), name.end(), '_', ' ');
                round.failure += separator + std::to_string(counts[state]) + " " + name;
                separator = ", ";
            }
        }
    } else if (const int unhealthy = round.report.Unhealthy(); unhealthy > 0) {
        round.exit_code = kExitFailed;
        round.failure = std::to_string(unhealthy) + " of " +
                        std::to_string(round.report.Running()) + " running VMs unhealthy";
    }
    // A VM the set names but the emulator does not list cannot be healthy.
    for (int32_t index : round.missing) {
        round.exit_code = kExitFailed;
        round.failure += (round.failure.empty() ? "" : "; ") + std::string("VM ") +
                         gbk::Decimal(index) + " is not listed";
    }
}

// Only a round that could list the VMs is written: a failed one keeps the last good file, so
// that its timestamp shows the readings are stale.
void WriteProm(const FarmRequest& request, FarmSystem& system, HealthRound& round) {
    if (!request.prom_file || !round.listed) return;
    const std::string text = PrometheusText(
        round.report, [&system](std::string_view gbk) { return system.Utf8FromGbk(gbk); },
        round.heal ? &*round.heal : nullptr);
    round.prom_failure = system.Files().Replace(*request.prom_file, text);
    if (!round.prom_failure) return;
    round.exit_code = std::max<int>(round.exit_code, kExitFailed);
    round.failure =
        (round.failure.empty() ? "" : round.failure + "; ") +
        "the Prometheus file was not written (the old one is kept): " + *round.prom_failure;
}

// The healing side of a watch: the policy, the actions in progress and what ended.
class HealWatch {
public:
    HealWatch(const FarmRequest& request, FarmSystem& system, const ToolFolders& folders,
              HealPace pace, const HealEventSink& on_heal)
        : system_(system),
          policy_({request.heal_after, request.max_restarts, request.heal_window_s}),
          actions_(system, folders, {std::max(request.parallel, 1), request.stagger_s}, pace),
          on_heal_(on_heal) {}

    // The VMs whose readings this round stand for an action, not for the VM: taken before the
    // round's readings, as no new action starts until the round has decided.
    std::set<int32_t> Busy() { return actions_.InProgress(); }

    // Decides the round over its readings and hands out its actions.
    void Decide(HealthRound& round, const std::set<int32_t>& busy) {
        TakeEnded();
        if (system_.StopRequested()) policy_.Stop();
        std::vector<HealReading> readings;
        for (const VmHealth& vm : round.report.vms) {
            HealReading reading{vm.index, vm.started, vm.healthy, {}};
            for (const std::string& problem : vm.problems)
                reading.reason += (reading.reason.empty() ? "" : "; ") + problem;
            readings.push_back(std::move(reading));
        }
        HealRoundDecision decided = policy_.Decide(readings, system_.Now(), busy);
        HealView view;
        std::vector<HealOrder> orders;
        for (size_t i = 0; i < decided.vms.size(); ++i) {
            const HealDecision& decision = decided.vms[i];
            if (decision.action != HealAction::kNone)
                orders.push_back(
                    {decision.index, round.report.vms[i].title, decision.action, decision.reason});
            view.decisions[decision.index] = decision;
        }
        view.totals = policy_.Totals();
        round.heal = std::move(view);
        actions_.Submit(std::move(orders));
    }

    // After Ctrl+C: no new action; the running ones end, and are reported. True when one did.
    bool Finish(HealthRound& last) {
        policy_.Stop();
        actions_.WaitIdle();
        if (!TakeEnded()) return false;
        if (last.heal) last.heal->totals = policy_.Totals();
        return true;
    }

private:
    bool TakeEnded() {
        const std::vector<HealEvent> ended = actions_.TakeEnded();
        for (const HealEvent& event : ended) {
            policy_.Finished(event.index, event.action, event.result);
            if (on_heal_) on_heal_(event);
        }
        return !ended.empty();
    }

    FarmSystem& system_;
    HealPolicy policy_;
    HealActions actions_;
    HealEventSink on_heal_;
};

}  // namespace

HealthRound RunHealth(const FarmRequest& request, FarmSystem& system, const ToolFolders& folders,
                      const HealthRoundSink& on_round, const HealEventSink& on_heal,
                      HealPace pace) {
    std::optional<HealWatch> heal;
    if (request.heal) heal.emplace(request, system, folders, pace, on_heal);
    std::optional<HealthRound> last;
    // The last round stands; a healing watch first lets the running actions end, and writes
    // the counters again when some did.
    const auto finish = [&](HealthRound round) {
        if (heal && heal->Finish(round)) WriteProm(request, system, round);
        return round;
    };
    for (;;) {
        const double started = system.Now();
        const std::set<int32_t> busy = heal ? heal->Busy() : std::set<int32_t>();
        HealthRound round = SampleOnce(request, system, folders);
        // A round cut short by Ctrl+C asked only some VMs: the one before it stands.
        if (last && system.StopRequested()) return finish(std::move(*last));
        if (heal && round.listed) heal->Decide(round, busy);
        JudgeRound(round);
        WriteProm(request, system, round);
        if (on_round) on_round(round);
        if (!request.watch_s || system.StopRequested()) return finish(std::move(round));
        last = std::move(round);
        system.Sleep(*request.watch_s - (system.Now() - started));
        if (system.StopRequested()) return finish(std::move(*last));
    }
}
