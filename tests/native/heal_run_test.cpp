// health --watch --heal over the fake system: which VMs are stopped and started, in which
// order, within which budget, and what the events, the round documents and the counters say.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/farm_args.h"
#include "cli/farm_output.h"
#include "fake_farm_system.h"
#include "farm/health/prometheus_text.h"
#include "farm/report/health_format.h"
#include "farm/report/outcome_document.h"
#include "farm/health/health_run.h"
#include "row_name.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string Same(std::string_view text) {
    return std::string(text);
}

// An emulator whose VMs stop and start as memuc is told. A VM's window is 10 + its index, plus
// 10 for each start; the windows `hung` names do not answer.
class HealingEmulator {
public:
    explicit HealingEmulator(FakeFarmSystem& system) : system_(system) {
        system.tools.answer = [this](const std::string& line) { return Answer(line); };
    }

    void AddVm(int32_t index, bool running) {
        std::lock_guard<std::mutex> lock(mutex_);
        vms_[index] = {running, 0};
    }
    // The VM's window hangs now and after every start from now on.
    void HangAlways(int32_t index) {
        for (int starts = 0; starts < 20; ++starts)
            system_.probes.windows[10 + index + 10 * starts] = WindowAnswer::kHung;
    }
    // Only the VM's present window hangs: a restart cures it.
    void HangOnce(int32_t index) {
        std::lock_guard<std::mutex> lock(mutex_);
        system_.probes.windows[Window(index)] = WindowAnswer::kHung;
    }
    // memuc start of the VM: Ctrl+C comes while it runs.
    int32_t interrupt_on_start = -1;

    // The memuc lines that named the VM.
    std::vector<std::string> MemucLinesOf(int32_t index) {
        std::vector<std::string> lines;
        for (const std::string& line : system_.tools.Lines())
            if (Contains(line, "memuc") && Contains(line, "-i " + std::to_string(index)))
                lines.push_back(line.substr(line.rfind("memuc ")));
        return lines;
    }
    // Every line, memuc's and adb's, that named the VM by index or adb port.
    std::vector<std::string> LinesNaming(int32_t index) {
        std::vector<std::string> lines;
        const std::string port = "127.0.0.1:" + std::to_string(21503 + 10 * index);
        for (const std::string& line : system_.tools.Lines())
            if (Contains(line, "-i " + std::to_string(index)) || Contains(line, port))
                lines.push_back(line);
        return lines;
    }

private:
    struct Vm {
        bool running = false;
        int starts = 0;
    };

    int32_t Window(int32_t index) { return 10 + index + 10 * vms_[index].starts; }

    ToolRun Answer(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (Contains(line, "listvms")) {
            std::string listing;
            for (auto& [index, vm] : vms_)
                listing += std::to_string(index) + ",MEmu_" + std::to_string(index) + "," +
                           std::to_string(vm.running ? Window(index) : 0) + "," +
                           (vm.running ? "1," + std::to_string(700 + index) : "0,0") + "\r\n";
            return ::Answer(listing);
        }
        for (auto& [index, vm] : vms_) {
            const std::string named = "-i " + std::to_string(index);
            if (Contains(line, "memuc stop " + named)) {
                vm.running = false;
                return ::Answer("SUCCESS: stop vm finished.\r\n");
            }
            if (Contains(line, "memuc start " + named)) {
                vm.running = true;
                ++vm.starts;
                if (index == interrupt_on_start) system_.stop = true;
                return ::Answer("SUCCESS: start vm finished.\r\n");
            }
        }
        return ::Answer("1\r\n");  // adb: booted
    }

    FakeFarmSystem& system_;
    std::mutex mutex_;
    std::map<int32_t, Vm> vms_;
};

struct Watch {
    std::vector<HealthRound> rounds;
    std::vector<HealEvent> events;
    std::vector<size_t> events_before_round;  // how many events had come before each round
    HealthRound last;
};

// Runs the watch until Ctrl+C comes after `rounds` rounds (or from elsewhere).
Watch RunWatch(FakeFarmSystem& system, const std::vector<std::string>& args, size_t rounds,
               HealPace pace) {
    const ParseOutcome parsed = ParseFarmArgs(args, "1");
    EXPECT_EQ(parsed.kind, ParseOutcome::Kind::kRun) << parsed.text;
    Watch watch;
    std::mutex mutex;
    watch.last = RunHealth(
        parsed.request, system, {"C:\\MEmu\\", "C:\\MEmu\\"},
        [&](const HealthRound& round) {
            std::lock_guard<std::mutex> lock(mutex);
            watch.rounds.push_back(round);
            watch.events_before_round.push_back(watch.events.size());
            if (watch.rounds.size() >= rounds) system.stop = true;
        },
        [&](const HealEvent& event) {
            std::lock_guard<std::mutex> lock(mutex);
            watch.events.push_back(event);
        },
        pace);
    return watch;
}

HealState StateIn(const HealthRound& round, int32_t index) {
    return round.heal ? round.heal->StateOf(index) : HealState::kHealthy;
}

const std::vector<std::string> kHealWatch = {
    "health", "--watch",       "15",  "--heal", "--max-restarts",
    "2",      "--heal-window", "600", "--prom", "C:\\prom\\memu.prom"};

TEST(HealRun, StartsRestartsAndGivesUpWithinTheBudget) {
    FakeFarmSystem system;
    HealingEmulator emulator(system);
    emulator.AddVm(0, true);   // healthy throughout
    emulator.AddVm(1, true);   // hung once: a restart cures it
    emulator.AddVm(2, false);  // stopped behind the watch's back
    emulator.AddVm(3, true);   // hung after every start
    emulator.HangOnce(1);
    emulator.HangAlways(3);

    const Watch watch = RunWatch(system, kHealWatch, 8, HealPace::kInline);
    ASSERT_EQ(watch.rounds.size(), 8u);

    // The hung VM: unhealthy for two rounds, then stopped and started, then healthy.
    EXPECT_EQ(StateIn(watch.rounds[0], 1), HealState::kUnhealthy);
    EXPECT_EQ(watch.rounds[0].heal->decisions.at(1).action, HealAction::kNone);
    EXPECT_EQ(watch.rounds[1].heal->decisions.at(1).action, HealAction::kRestart);
    EXPECT_EQ(StateIn(watch.rounds[2], 1), HealState::kHealthy);
    EXPECT_EQ(StateIn(watch.rounds[7], 1), HealState::kHealthy);
    EXPECT_EQ(emulator.MemucLinesOf(1),
              (std::vector<std::string>{"memuc stop -i 1", "memuc start -i 1"}));
    // Stopped with a time-out, then started and waited for.
    std::vector<StartedLine> vm1;
    for (const StartedLine& line : system.tools.Started())
        if (Contains(line.line, "-i 1") || Contains(line.line, "127.0.0.1:21513"))
            vm1.push_back(line);
    const auto stop = std::find_if(vm1.begin(), vm1.end(), [](const StartedLine& line) {
        return Contains(line.line, "memuc stop -i 1");
    });
    ASSERT_GE(vm1.end() - stop, 2);
    EXPECT_EQ(stop->timeout_ms, kHealStopTimeoutMs);
    EXPECT_FALSE(stop->detached);
    EXPECT_TRUE(Contains((stop + 1)->line, "memuc start -i 1"));
    EXPECT_FALSE((stop + 1)->detached);
    EXPECT_EQ((stop + 1)->timeout_ms, kHealStartTimeoutMs);
    // The boot is asked of the adb server.
    bool boot_asked = false;
    for (const DeviceRequest& request : system.adb.Requests())
        boot_asked = boot_asked || (request.serial == "127.0.0.1:21513" &&
                                    request.service == "shell:getprop sys.boot_completed");
    EXPECT_TRUE(boot_asked);

    // The stopped VM is started at once, and is healthy the next round.
    EXPECT_EQ(StateIn(watch.rounds[0], 2), HealState::kNotRunning);
    EXPECT_EQ(watch.rounds[0].heal->decisions.at(2).action, HealAction::kStart);
    EXPECT_EQ(StateIn(watch.rounds[1], 2), HealState::kHealthy);
    EXPECT_EQ(emulator.MemucLinesOf(2), std::vector<std::string>{"memuc start -i 2"});

    // The healthy VM: no line names it but the health questions to its adb.
    for (const std::string& line : emulator.LinesNaming(0))
        EXPECT_TRUE(Contains(line, "shell getprop sys.boot_completed")) << line;
    EXPECT_TRUE(emulator.MemucLinesOf(0).empty());

    // The VM that stays hung: two restarts (rounds 1 and 3), then given up on.
    EXPECT_EQ(emulator.MemucLinesOf(3),
              (std::vector<std::string>{"memuc stop -i 3", "memuc start -i 3", "memuc stop -i 3",
                                        "memuc start -i 3"}));
    EXPECT_EQ(watch.rounds[3].heal->decisions.at(3).action, HealAction::kRestart);
    EXPECT_EQ(StateIn(watch.rounds[4], 3), HealState::kUnhealthy);
    for (size_t r = 5; r < 8; ++r) EXPECT_EQ(StateIn(watch.rounds[r], 3), HealState::kGaveUp) << r;
    EXPECT_EQ(watch.last.exit_code, 1);
    EXPECT_EQ(watch.last.failure, "1 of 4 VMs not up and healthy: 1 gave up");

    // Each action is one event, seen before the round after it.
    ASSERT_EQ(watch.events.size(), 4u);
    EXPECT_EQ(watch.events_before_round[1], 1u);  // the start of VM 2
    EXPECT_EQ(watch.events_before_round[2], 3u);  // and the restarts of VMs 1 and 3
    // VMs 1 and 3 are restarted side by side: either may end first.
    const HealEvent& restart = watch.events[watch.events[1].index == 1 ? 1 : 2];
    EXPECT_EQ(restart.index, 1);
    EXPECT_EQ(restart.title, "MEmu_1");
    EXPECT_EQ(restart.action, HealAction::kRestart);
    EXPECT_EQ(restart.reason, "its window does not answer");
    EXPECT_EQ(restart.result, HealResult::kOk);
    ASSERT_EQ(restart.steps.size(), 3u);
    EXPECT_TRUE(Contains(restart.steps[0], "memuc stop -i 1"));
    EXPECT_TRUE(Contains(restart.steps[1], "memuc start -i 1"));
    EXPECT_TRUE(Contains(restart.steps[2], "sys.boot_completed"));
    EXPECT_EQ(watch.events[0].action, HealAction::kStart);
    EXPECT_EQ(watch.events[0].reason, "not running");

    // The round documents carry each VM's heal state.
    const std::string json = DocumentText(HealthDocument(
        watch.last.report, watch.last.exit_code, watch.last.failure, Same, &*watch.last.heal));
    EXPECT_TRUE(Contains(json, R"("title":"MEmu_3",)")) << json;
    EXPECT_TRUE(Contains(json, R"("heal":"gave_up"})")) << json;
    EXPECT_TRUE(Contains(json, R"("unhealthy":1,"healing":0,"gave_up":1,"vms":)")) << json;

    // The counters: every VM, action and result from the first round on.
    const auto& writes = system.files.writes;
    ASSERT_GE(writes.size(), 8u);
    EXPECT_TRUE(Contains(writes.front().second,
                         "memu_vm_heal_actions_total{index=\"0\",title=\"MEmu_0\",action=\"start\","
                         "result=\"ok\"} 0\n"));
    EXPECT_TRUE(Contains(writes.front().second,
                         "memu_vm_heal_actions_total{index=\"3\",title=\"MEmu_3\",action="
                         "\"restart\",result=\"timed_out\"} 0\n"));
    EXPECT_TRUE(Contains(writes.front().second, "# TYPE memu_vm_heal_actions_total counter\n"));
    const std::string& last = writes.back().second;
    EXPECT_TRUE(Contains(last,
                         "memu_vm_heal_actions_total{index=\"3\",title=\"MEmu_3\",action="
                         "\"restart\",result=\"ok\"} 2\n"))
        << last;
    EXPECT_TRUE(Contains(last,
                         "memu_vm_heal_actions_total{index=\"2\",title=\"MEmu_2\",action="
                         "\"start\",result=\"ok\"} 1\n"));
    EXPECT_TRUE(Contains(last, "memu_vm_heal_gave_up{index=\"3\",title=\"MEmu_3\"} 1\n"));
    EXPECT_TRUE(Contains(last, "memu_vm_heal_gave_up{index=\"1\",title=\"MEmu_1\"} 0\n"));
    const auto heal_series = [](const std::string& text) {
        size_t count = 0;
        for (size_t at = text.find("\nmemu_vm_heal_"); at != std::string::npos;
             at = text.find("\nmemu_vm_heal_", at + 1))
            ++count;
        return count;
    };
    EXPECT_EQ(heal_series(writes.front().second), 4u * 6 + 4);
    EXPECT_EQ(heal_series(last), 4u * 6 + 4) << "the same series in every round";
}

TEST(HealRun, AllHealedWatchExitsZeroAfterCtrlC) {
    FakeFarmSystem system;
    HealingEmulator emulator(system);
    emulator.AddVm(0, true);
    emulator.AddVm(1, false);
    const Watch watch =
        RunWatch(system, {"health", "--watch", "15", "--heal"}, 2, HealPace::kInline);
    EXPECT_EQ(watch.rounds[0].exit_code, 1);
    EXPECT_EQ(watch.rounds[0].failure, "1 of 2 VMs not up and healthy: 1 not running");
    EXPECT_EQ(watch.last.exit_code, 0) << watch.last.failure;
}

TEST(HealRun, CtrlCLetsTheRunningActionEndAndHandsOutNoNewOne) {
    FakeFarmSystem system;
    HealingEmulator emulator(system);
    emulator.AddVm(0, true);
    emulator.AddVm(1, false);
    emulator.AddVm(2, false);
    emulator.interrupt_on_start = 1;  // Ctrl+C while memuc start -i 1 runs
    // One action at a time, in the background as the program runs them; the rounds go on
    // (as healing) until Ctrl+C comes from the start.
    const Watch watch = RunWatch(system, {"health", "--watch", "15", "--heal", "--parallel", "1"},
                                 SIZE_MAX, HealPace::kBackground);
    // The start that ran ended and was reported; VM 2's, queued behind it, never started.
    EXPECT_EQ(emulator.MemucLinesOf(1), std::vector<std::string>{"memuc start -i 1"});
    EXPECT_TRUE(emulator.MemucLinesOf(2).empty());
    ASSERT_EQ(watch.events.size(), 1u);
    EXPECT_EQ(watch.events[0].index, 1);
    // Its boot wait was given up at Ctrl+C: the action did not succeed.
    EXPECT_EQ(watch.events[0].result, HealResult::kFailed);
    EXPECT_TRUE(Contains(watch.events[0].failure, "Ctrl+C")) << watch.events[0].failure;
    EXPECT_EQ(watch.last.exit_code, 1);
    ASSERT_TRUE(watch.last.heal);
    EXPECT_EQ(watch.last.heal->totals.at({1, HealAction::kStart, HealResult::kFailed}), 1);
}

// Waiting for the actions returns only once the one handed out has ended, however long its
// tool runs (here until another thread lets it go).
TEST(HealActions, WaitIdleReturnsOnlyAfterTheRunningActionEnded) {
    FakeFarmSystem system;
    HealingEmulator emulator(system);
    emulator.AddVm(0, false);
    std::atomic<bool> waiting{false};
    std::atomic<bool> released{false};
    const auto answer = system.tools.answer;
    system.tools.answer = [&](const std::string& line) {
        if (Contains(line, "memuc start -i 0"))
            while (!released) std::this_thread::yield();
        return answer(line);
    };
    std::thread releaser([&] {
        while (!waiting) std::this_thread::yield();
        for (int i = 0; i < 10000; ++i) std::this_thread::yield();
        released = true;
    });
    {
        HealActions actions(system, {"C:\\MEmu\\", "C:\\MEmu\\"}, ScheduleOptions{},
                            HealPace::kBackground);
        actions.Submit({{0, "MEmu_0", HealAction::kStart, "not running"}});
        waiting = true;
        actions.WaitIdle();
        EXPECT_TRUE(released);
        EXPECT_TRUE(actions.InProgress().empty());
        EXPECT_EQ(actions.TakeEnded().size(), 1u);
    }
    releaser.join();
}

TEST(HealFormat, EventAsJsonLineAndText) {
    HealEvent event;
    event.time = 134116128000000000;  // 2025-12-31T00:00:00Z
    event.index = 4;
    event.title = "a\"b";
    event.action = HealAction::kRestart;
    event.reason = "adb does not answer";
    event.steps = {"memuc stop -i 4"};
    event.result = HealResult::kTimedOut;
    event.failure = "the stop did not succeed: memuc was silent for 30000 ms";
    EXPECT_EQ(DocumentText(HealEventDocument(event, Same)),
              R"({"event":"heal","time":"2025-12-31T00:00:00Z","index":4,"title":"a\"b",)"
              R"("action":"restart","reason":"adb does not answer","steps":["memuc stop -i 4"],)"
              R"("result":"timed_out","failure":"the stop did not succeed: memuc was silent for )"
              R"(30000 ms"})");
    EXPECT_EQ(HealEventLine(event),
              "2025-12-31T00:00:00Z  VM 4 a\"b: restart (adb does not answer): timed_out: the "
              "stop did not succeed: memuc was silent for 30000 ms");
    event.result = HealResult::kOk;
    event.failure.clear();
    EXPECT_FALSE(Contains(DocumentText(HealEventDocument(event, Same)), "failure"));
}

// A console window: rounds are redrawn in place.
class LiveConsole : public FarmConsole {
public:
    bool is_console = true;
    std::string shown, json;
    void Print(std::string_view) override {}
    void PrintError(std::string_view) override {}
    void PrintJson(std::string_view utf8) override { json += utf8; }
    std::string Utf8FromGbk(std::string_view text) override { return std::string(text); }
    bool OutputIsConsole() override { return is_console; }
    void Redraw(std::string_view text) override { shown = std::string(text); }
};

HealthRound OneHungVmGivenUp() {
    HealthRound round;
    round.listed = true;
    VmHealth vm;
    vm.index = 3;
    vm.title = "MEmu_3";
    vm.started = true;
    vm.problems = {"its window does not answer"};
    round.report.vms.push_back(vm);
    HealDecision decision;
    decision.index = 3;
    decision.state = HealState::kGaveUp;
    round.heal = HealView{{{3, decision}}, {}};
    return round;
}

TEST(HealOutput, LiveViewKeepsTheLastFiveActionsUnderTheTable) {
    const ParseOutcome parsed = ParseFarmArgs({"health", "--watch", "15", "--heal"}, "1");
    LiveConsole console;
    const FarmProgress progress = ProgressPrinter(parsed.request, console);
    for (int32_t index = 1; index <= 6; ++index) {
        HealEvent event;
        event.index = index;
        event.title = "MEmu_" + std::to_string(index);
        event.action = HealAction::kStart;
        event.reason = "not running";
        event.result = HealResult::kOk;
        progress.heal_event(event);
    }
    progress.health_round(OneHungVmGivenUp());
    EXPECT_TRUE(Contains(console.shown, "GAVE UP (UNHEALTHY: its window does not answer)"))
        << console.shown;
    EXPECT_TRUE(Contains(console.shown, "Last heal actions:\n")) << console.shown;
    EXPECT_FALSE(Contains(console.shown, "VM 1 MEmu_1")) << "the oldest of six is dropped";
    for (int index = 2; index <= 6; ++index)
        EXPECT_TRUE(Contains(console.shown, "VM " + std::to_string(index) + " MEmu_" +
                                                std::to_string(index) +
                                                ": start (not running): ok\n"))
            << console.shown;
    EXPECT_TRUE(console.json.empty());

    // Redirected: each action is a JSON line of its own, then the round's document.
    console.is_console = false;
    const FarmProgress redirected = ProgressPrinter(parsed.request, console);
    redirected.heal_event(HealEvent{});
    redirected.health_round(OneHungVmGivenUp());
    EXPECT_EQ(console.json.rfind(R"({"event":"heal",)", 0), 0u) << console.json;
    EXPECT_TRUE(Contains(console.json, "}\n{\"ok\":")) << console.json;
    EXPECT_TRUE(Contains(console.json, R"("heal":"gave_up"})")) << console.json;
}

}  // namespace
