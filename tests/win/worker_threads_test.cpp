// The farm's worker threads: started with the stack we reserve, every one doing its share, and
// the deepest stack the farm's verbs use on a worker measured against that reservation.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/farm_args.h"
#include "farm/run/farm_run.h"
#include "farm/run/farm_system_win.h"
#include "process/worker_threads_win.h"
#include "support/sim_fixture.h"

namespace {

TEST(WorkerThreadsTest, EveryThreadRunsAndTheWorkIsShared) {
    for (const size_t count : {size_t{1}, size_t{2}, size_t{32}, size_t{64}}) {
        std::mutex mutex;
        std::set<DWORD> threads;
        std::atomic<int> left{1000};
        std::atomic<int> done{0};
        const size_t started = RunOnThreads(count, kWorkerStackBytes, [&] {
            {
                std::lock_guard lock(mutex);
                threads.insert(GetCurrentThreadId());
            }
            while (left-- > 0) {
                ++done;
                Sleep(0);
            }
        });
        EXPECT_EQ(started, count);
        EXPECT_EQ(threads.size(), count);
        EXPECT_EQ(done.load(), 1000) << count << " threads";
        EXPECT_EQ(threads.count(GetCurrentThreadId()), 0u);
    }
}

// A function whose frame holds `bytes` it writes.
__attribute__((noinline)) void UseStack(size_t bytes) {
    volatile unsigned char* frame = static_cast<volatile unsigned char*>(__builtin_alloca(bytes));
    for (size_t i = 0; i < bytes; i += 512) frame[i] = 1;
    frame[bytes - 1] = 1;
}

TEST(WorkerThreadsTest, TheDeepestStackIsMeasured) {
    const struct {
        const char* name;
        size_t used;
    } rows[] = {{"little", 0},
                {"16 KiB", 16 * 1024},
                {"200 KiB", 200 * 1024},
                {"near the end of 1 MiB", 900 * 1024}};
    for (const auto& row : rows) {
        const size_t deepest = DeepestStackOf(1024 * 1024, [&] {
            if (row.used) UseStack(row.used);
        });
        EXPECT_GE(deepest, row.used) << row.name;
        EXPECT_LT(deepest, row.used + 16 * 1024) << row.name;
    }
}

// The real system, with each worker's stack measured on a reservation of 1 MiB.
class MeasuredFarmSystem : public WinFarmSystem {
public:
    void RunWorkers(size_t count, const std::function<void()>& work) override {
        std::vector<std::thread> pool;
        for (size_t i = 0; i < count; ++i)
            pool.emplace_back([&] {
                const size_t used = DeepestStackOf(1024 * 1024, work);
                size_t seen = deepest.load();
                while (used > seen && !deepest.compare_exchange_weak(seen, used)) {
                }
            });
        for (std::thread& thread : pool) thread.join();
    }
    std::atomic<size_t> deepest{0};
};

class WorkerStackTest : public SimulatedFarmTest {
protected:
    WorkerStackTest() : SimulatedFarmTest("stack", 3) {}
};

// Every kind of step a worker takes: the emulator's tool, the adb server (a shell, a tap, a
// screenshot pulled), the listing of a set, and a boot wait. Half the reservation is the bound.
TEST_F(WorkerStackTest, TheFarmsVerbsStayWellInsideTheWorkersStack) {
    SetSimSwitches(root_, "adb.exe * boot=0\r\n");
    const std::vector<std::vector<std::string>> lines = {
        {"start", "0-2", "--boot", "--parallel", "3"},
        {"getconfig", "0-2", "fps", "--parallel", "3"},
        {"tap", "running", "10", "20", "--parallel", "3"},
        {"text", "0-2", "hello", "--parallel", "3"},
        {"input", "0-2", "逍遥", "--parallel", "3"},
        {"adb", "0-2", "shell", "echo", "hi", "--parallel", "3"},
        {"screenshot", "0-2", root_ + "shot-{index}.png", "--parallel", "3"},
        {"health", "0-2", "--parallel", "3"},
        {"stop", "all", "--wait", "--parallel", "3"},
    };
    size_t deepest = 0;
    for (const std::vector<std::string>& line : lines) {
        const ParseOutcome parsed = ParseFarmArgs(line, "1");
        ASSERT_EQ(parsed.kind, ParseOutcome::Kind::kRun) << parsed.text;
        MeasuredFarmSystem system;
        const FarmOutcome outcome = RunFarm(parsed.request, system, FarmProgress{});
        EXPECT_EQ(outcome.exit_code, 0) << line[0] << ": " << outcome.message;
        std::printf("%s: deepest worker stack %zu bytes\n", line[0].c_str(), system.deepest.load());
        deepest = std::max(deepest, system.deepest.load());
    }
    std::printf("deepest over every verb: %zu bytes of the %zu reserved\n", deepest,
                kWorkerStackBytes);
    EXPECT_GT(deepest, 0u);
    EXPECT_LT(deepest, kWorkerStackBytes / 2);
}

}  // namespace
