#include "farm/run/scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "cli/farm_args.h"
#include "fake_farm_system.h"
#include "farm/command/limits.h"
#include "farm/run/farm_run.h"
#include "row_name.h"

namespace {

struct ScheduleRow {
    const char* name;
    std::vector<std::string> args;  // after "start", which waits for memuc
    std::string hang_on;            // lines holding this hang until their deadline
    int stop_when_started = -1;     // Ctrl+C comes while this VM's start runs
    // Per VM in set order: "ok", "failed", "deadline" or "not started".
    std::vector<std::string> states;
    int exit_code;
    int parallel;                  // never more VMs at once
    double stagger;                // at least this long between two starts
    bool stop_in_stagger = false;  // Ctrl+C comes while the stagger is waited out
};

// Ctrl+C may come while the scheduler waits out the stagger.
class StaggerStopSystem : public FakeFarmSystem {
public:
    bool stop_in_stagger = false;
    void Sleep(double seconds) override {
        FakeFarmSystem::Sleep(seconds);
        if (stop_in_stagger && seconds >= 1) stop = true;
    }
};

// Rows print as their names in test listings.
void PrintTo(const ScheduleRow& row, std::ostream* out) {
    *out << row.name;
}

class SchedulerTest : public testing::TestWithParam<ScheduleRow> {};

std::string StateOf(const VmResult& result) {
    if (!result.started) return "not started";
    if (result.deadline_passed) return "deadline";
    return result.ok ? "ok" : "failed";
}

TEST_P(SchedulerTest, WorksThroughTheSet) {
    const ScheduleRow& row = GetParam();
    StaggerStopSystem system;
    system.stop_in_stagger = row.stop_in_stagger;
    std::mutex mutex;
    int running = 0;
    int most_running = 0;
    system.tools.hang_on = row.hang_on;
    // A hung tool's time passes only once every other VM has been answered: the deadline then
    // ends it whatever the machine's speed, and a scheduler that let it hold the other workers
    // would never get there (past a bound of polls the clock moves all the same, so that such a
    // fault fails the rows instead of hanging the suite).
    std::atomic<size_t> answered{0};
    std::atomic<long long> polls{0};
    const size_t others = row.states.size() - (row.hang_on.empty() ? 0 : 1);
    system.tools.waited = [&] {
        if (answered.load() >= others || ++polls > 20'000'000) {
            system.Sleep(0.001);
        } else {
            std::this_thread::yield();
        }
    };
    system.tools.answer = [&](const std::string& line) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            most_running = std::max(most_running, ++running);
            if (row.stop_when_started >= 0 &&
                line.find("-i " + std::to_string(row.stop_when_started)) != std::string::npos)
                system.stop = true;
        }
        // Long enough for the other workers to start theirs meanwhile.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::lock_guard<std::mutex> lock(mutex);
        --running;
        ++answered;
        if (line.find("-i 4") != std::string::npos) return Answer("ERROR: no VM with index 4");
        return Answer("SUCCESS: start vm finished.");
    };
    std::vector<std::string> args = {"start"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    args.push_back("--wait");
    const ParseOutcome parsed = ParseFarmArgs(args, "1");
    ASSERT_EQ(parsed.kind, ParseOutcome::Kind::kRun) << parsed.text;

    std::vector<int32_t> finished;
    FarmProgress progress;
    progress.vm_finished = [&](const VmResult& result) { finished.push_back(result.index); };
    const FarmOutcome outcome = RunFarm(parsed.request, system, progress);

    EXPECT_EQ(outcome.exit_code, row.exit_code) << outcome.message;
    const auto* set = std::get_if<SetOutcome>(&outcome.what);
    ASSERT_NE(set, nullptr);
    std::vector<std::string> states;
    for (const VmResult& result : set->results) states.push_back(StateOf(result));
    EXPECT_EQ(states, row.states);
    EXPECT_EQ(finished.size(), row.states.size());  // every VM reported once
    EXPECT_LE(most_running, row.parallel);
    std::vector<double> starts;
    for (const VmResult& result : set->results)
        if (result.started) starts.push_back(result.started_at);
    std::sort(starts.begin(), starts.end());
    for (size_t i = 1; i < starts.size(); ++i)
        EXPECT_GE(starts[i] - starts[i - 1], row.stagger) << "start " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SchedulerTest,
    testing::Values(
        ScheduleRow{"one at a time", {"1-3"}, "", -1, {"ok", "ok", "ok"}, 0, 1, 0},
        ScheduleRow{"never more than the limit",
                    {"0-11", "--parallel", "3"},
                    "",
                    -1,
                    {"ok", "ok", "ok", "ok", "failed", "ok", "ok", "ok", "ok", "ok", "ok", "ok"},
                    1,
                    3,
                    0},
        ScheduleRow{"results in set order",
                    {"9,2,5", "--parallel", "3"},
                    "",
                    -1,
                    {"ok", "ok", "ok"},
                    0,
                    3,
                    0},
        ScheduleRow{"stagger between starts however many workers are free",
                    {"1-3,5", "--parallel", "4", "--stagger", "2.5"},
                    "",
                    -1,
                    {"ok", "ok", "ok", "ok"},
                    0,
                    4,
                    2.5},
        ScheduleRow{"a hung VM holds only its own worker",
                    {"1-6", "--parallel", "2", "--deadline", "0.3"},
                    "-i 3",
                    -1,
                    {"ok", "ok", "deadline", "failed", "ok", "ok"},
                    4,
                    2,
                    0},
        ScheduleRow{"Ctrl+C starts nothing new and waits for what runs",
                    {"1-6"},
                    "",
                    2,
                    {"ok", "ok", "not started", "not started", "not started", "not started"},
                    1,
                    1,
                    0},
        ScheduleRow{"Ctrl+C during the stagger starts nothing new",
                    {"1-3", "--stagger", "5"},
                    "",
                    -1,
                    {"ok", "not started", "not started"},
                    1,
                    1,
                    5,
                    true}),
    RowName());

// Records how many workers the scheduler asks for, and runs them one after another.
class CountingWorkersSystem : public FakeFarmSystem {
public:
    std::vector<size_t> asked;
    void RunWorkers(size_t count, const std::function<void()>& work) override {
        asked.push_back(count);
        for (size_t i = 0; i < count; ++i) work();
    }
};

struct WorkerRow {
    const char* name;
    int parallel;
    size_t vms;
    size_t workers;  // 1: the caller's own thread, no workers started
};

void PrintTo(const WorkerRow& row, std::ostream* out) {
    *out << row.name;
}

class WorkerCapTest : public testing::TestWithParam<WorkerRow> {};

TEST_P(WorkerCapTest, NeverMoreWorkersThanParallelOrVms) {
    const WorkerRow& row = GetParam();
    CountingWorkersSystem system;
    std::vector<size_t> done;
    const std::vector<bool> started =
        RunPositions(system, row.vms, {row.parallel, 0},
                     [&](size_t position, double) { done.push_back(position); });
    EXPECT_EQ(started, std::vector<bool>(row.vms, true));
    EXPECT_EQ(done.size(), row.vms);
    if (row.workers <= 1) {
        EXPECT_TRUE(system.asked.empty());
    } else {
        EXPECT_EQ(system.asked, std::vector<size_t>{row.workers});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WorkerCapTest,
    testing::Values(WorkerRow{"one at a time", 1, 5, 1}, WorkerRow{"two for two", 2, 2, 2},
                    WorkerRow{"parallel below the set", 3, 12, 3},
                    WorkerRow{"no more workers than VMs", 8, 3, 3},
                    WorkerRow{"one VM runs on the caller", 8, 1, 1},
                    WorkerRow{"the most at once", kMostParallel, 200, kMostParallel},
                    WorkerRow{"past the most is the most", kMostParallel + 1, 200, kMostParallel},
                    WorkerRow{"one below the most", kMostParallel - 1, 200, kMostParallel - 1},
                    WorkerRow{"zero is one", 0, 4, 1}),
    RowName());

}  // namespace
