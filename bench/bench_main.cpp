// Side-by-side benchmarks of the program's command runner, control module listing and one-key
// run against bare Win32 equivalents, measured in one run and printed as ratios:
//   name | ours | baseline | ratio | target
// Started by scripts/bench.sh under 64-bit Wine on a virtual display (the simulated VM
// processes own windows). `memu_bench capture ours|bare` is the child mode used for the
// capture measurement, so that each capture's peak working set is its own process's.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/bare_run_win.h"
#include "cloning/clone_commands.h"
#include "cloning/one_key_run.h"
#include "control/control_factory_win.h"
#include "install/discovery_win.h"
#include "process/command_runner_win.h"
#include "process/process_list_win.h"
#include "process/waits_win.h"
#include "support/farm_runner.h"
#include "support/http_client.h"
#include "support/sim_install.h"
#include "support/test_adb_port.h"
#include "support/win_test_support.h"
#include "text/gbk_text.h"
#include "win/steady_clock.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

constexpr long long kCaptureBytes = 64LL * 1024 * 1024;

double Now() {
    return SteadySeconds();
}

struct Row {
    std::string name;
    std::string unit;
    double ours;
    double baseline;
    double ratio;
    // Ratio bound; `at_most` false means the ratio must reach it. Negative: no target.
    double target;
    bool at_most;
};

std::vector<Row> g_rows;
std::vector<std::string> g_notes;

void Note(const std::string& text) {
    g_notes.push_back(text);
    std::printf("  %s\n", text.c_str());
    std::fflush(stdout);
}

void AddRow(Row row) {
    std::printf("  measured %s: ours %.3f %s, baseline %.3f %s, ratio %.3f\n", row.name.c_str(),
                row.ours, row.unit.c_str(), row.baseline, row.unit.c_str(), row.ratio);
    std::fflush(stdout);
    g_rows.push_back(std::move(row));
}

bool Met(const Row& row) {
    return row.at_most ? row.ratio <= row.target : row.ratio >= row.target;
}

void PrintTable() {
    std::printf("\n%-26s | %-18s | %-18s | %-7s | %s\n", "name", "ours", "baseline", "ratio",
                "target");
    std::printf("%s\n", std::string(92, '-').c_str());
    for (const Row& row : g_rows) {
        char ours[64];
        char baseline[64];
        std::snprintf(ours, sizeof ours, "%.3f %s", row.ours, row.unit.c_str());
        std::snprintf(baseline, sizeof baseline, "%.3f %s", row.baseline, row.unit.c_str());
        std::string target = "-";
        if (row.target >= 0) {
            char text[64];
            std::snprintf(text, sizeof text, "%s %.2f (%s)", row.at_most ? "<=" : ">=", row.target,
                          Met(row) ? "met" : "NOT met");
            target = text;
        }
        std::printf("%-26s | %-18s | %-18s | %-7.3f | %s\n", row.name.c_str(), ours, baseline,
                    row.ratio, target.c_str());
    }
    if (!g_notes.empty()) std::printf("\nnotes:\n");
    for (const std::string& note : g_notes) std::printf("  %s\n", note.c_str());
}

bool MakeCurrent(const std::string& folder) {
    return SetCurrentDirectoryW(WideFromGbk(folder).c_str()) != FALSE;
}

// --- 1. command runner --------------------------------------------------------------------

void BenchCommandRunner() {
    constexpr int kRuns = 200;
    double ours = 0;
    double bare = 0;
    int mismatches = 0;
    // Interleaved, so that drift of the machine's load hits both sides alike.
    for (int i = 0; i < kRuns; ++i) {
        double start = Now();
        const std::string a = RunCommand("echo x");
        ours += Now() - start;
        start = Now();
        const std::string b = BareRun("echo x");
        bare += Now() - start;
        if (a != b || a != "x\r\n") ++mismatches;
    }
    if (mismatches) Note("runner: " + std::to_string(mismatches) + " outputs differed from \"x\"");
    AddRow({"runner echo x (x200)", "ms/run", ours * 1000 / kRuns, bare * 1000 / kRuns, ours / bare,
            1.15, true});
}

// --- 2. capture throughput ----------------------------------------------------------------

size_t PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
    return counters.PeakWorkingSetSize;
}

// Child mode: one capture of kCaptureBytes, printed as "<seconds> <bytes> <peak bytes>".
int CaptureChild(bool ours) {
    MakeCurrent(BinDir());
    const std::string line = "test_child.exe flood:" + std::to_string(kCaptureBytes);
    const double start = Now();
    const std::string output = ours ? RunCommand(line) : BareRun(line);
    const double seconds = Now() - start;
    std::printf("%.6f %zu %zu\n", seconds, output.size(), PeakWorkingSet());
    return 0;
}

struct CaptureResult {
    double seconds = 0;
    size_t bytes = 0;
    size_t peak = 0;
};

CaptureResult RunCaptureChild(const char* side) {
    CaptureResult result;
    const std::string reply = BareRun(std::string("memu_bench.exe capture ") + side);
    if (std::sscanf(reply.c_str(), "%lf %zu %zu", &result.seconds, &result.bytes, &result.peak) !=
        3) {
        Note(std::string("capture ") + side + ": unreadable child reply \"" + reply + "\"");
    }
    return result;
}

void BenchCapture() {
    MakeCurrent(BinDir());
    constexpr int kRounds = 3;
    double ours_seconds = 0;
    double bare_seconds = 0;
    size_t ours_peak = 0;
    size_t bare_peak = 0;
    for (int i = 0; i < kRounds; ++i) {
        const CaptureResult ours = RunCaptureChild("ours");
        const CaptureResult bare = RunCaptureChild("bare");
        if (ours.bytes != static_cast<size_t>(kCaptureBytes) ||
            bare.bytes != static_cast<size_t>(kCaptureBytes)) {
            Note("capture: received " + std::to_string(ours.bytes) + " (ours) and " +
                 std::to_string(bare.bytes) + " (bare) bytes of " + std::to_string(kCaptureBytes));
        }
        ours_seconds += ours.seconds;
        bare_seconds += bare.seconds;
        ours_peak = std::max(ours_peak, ours.peak);
        bare_peak = std::max(bare_peak, bare.peak);
    }
    const double mib = static_cast<double>(kCaptureBytes) / (1024 * 1024);
    const double ours_rate = mib * kRounds / ours_seconds;
    const double bare_rate = mib * kRounds / bare_seconds;
    AddRow({"capture 64 MiB throughput", "MiB/s", ours_rate, bare_rate, ours_rate / bare_rate, 0.9,
            false});
    // The worst round's peak working set of each side's capturing process.
    const double ours_peak_mib = ours_peak / (1024.0 * 1024);
    const double bare_peak_mib = bare_peak / (1024.0 * 1024);
    AddRow({"capture 64 MiB peak WS", "MiB", ours_peak_mib, bare_peak_mib,
            ours_peak_mib / bare_peak_mib, 1.0, true});
    char text[128];
    std::snprintf(text, sizeof text,
                  "capture: peak working set over the output: %.2fx (ours), %.2fx (bare loop)",
                  ours_peak_mib / mib, bare_peak_mib / mib);
    Note(text);
}

// --- 3. listing ---------------------------------------------------------------------------

bool StartAllVms(const std::string& install_dir, int count) {
    MakeCurrent(install_dir);
    for (int index = 0; index < count; ++index) {
        RunCommand("memuc.exe memuc start -i " + std::to_string(index));
    }
    return true;
}

// A farm that is not whole (a started VM without its window, because the display refused
// another client, or a VM missing from the listing) would be measured doing less work than a
// real one: the benchmark says so and fails instead of measuring fewer.
bool g_farm_broken = false;

bool FarmIsWhole(const std::string& install_dir, int count, const char* section) {
    MakeCurrent(install_dir);
    const std::string reply = BareDirectRun(install_dir, "memuc.exe memuc listvms");
    int listed = 0;
    int windowed = 0;
    for (const std::string& line : gbk::Split(reply, "\n")) {
        // index,title,window,running,pid
        const std::vector<std::string> fields = gbk::SplitFields(line);
        if (fields.size() < 5) continue;
        ++listed;
        if (fields[3] == "1" && std::atoll(fields[2].c_str()) != 0) ++windowed;
    }
    if (listed == count && windowed == count) return true;
    g_farm_broken = true;
    Note(std::string(section) + ": the simulated farm is not whole: " + std::to_string(listed) +
         " of " + std::to_string(count) + " VMs listed, " + std::to_string(windowed) +
         " running with a window; not measured");
    return false;
}

int CountOccurrences(const std::string& text, const std::string& word) {
    int count = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        ++count;
    }
    return count;
}

// A script's view of the listing: `MEmuFarm list` started directly, against a bare direct
// `memuc listvms` plus the start of an empty console program (the least any separate program
// pays), with the VMs the listing section started.
void BenchFarmList(const std::string& install_dir, int running, int rounds, double target) {
    double ours = 0;
    double bare = 0;
    int listed_running = 0;
    for (int i = 0; i < rounds; ++i) {
        double start = Now();
        const std::string table = BareDirectRun(BinDir(), "MEmuFarm.exe list");
        ours += Now() - start;
        listed_running = CountOccurrences(table, " yes ");
        start = Now();
        BareDirectRun(install_dir, "memuc.exe memuc listvms");
        BareDirectRun(BinDir(), "bench_empty.exe");
        bare += Now() - start;
    }
    if (listed_running != running)
        Note("MEmuFarm list N=" + std::to_string(running) + ": " + std::to_string(listed_running) +
             " running VMs listed");
    AddRow({"MEmuFarm list N=" + std::to_string(running), "ms/run", ours * 1000 / rounds,
            bare * 1000 / rounds, ours / bare, target, true});
}

void BenchListing(int running, int rounds, double target, double farm_target) {
    const std::string root = MakeTempFolder("bench-list");
    const std::string install_dir = InstallSimulatedEmulator(root, running);
    if (install_dir.empty()) {
        Note("listing: installing the simulated emulator failed");
        return;
    }
    StartAllVms(install_dir, running);
    if (!FarmIsWhole(install_dir, running, "listing")) {
        StopSimulatedVms(root);
        return;
    }

    std::unique_ptr<EmulatorControl> control = CreateEmulatorControl();
    double ours = 0;
    double bare = 0;
    int records = 0;
    int with_headless = 0;
    for (int i = 0; i < rounds; ++i) {
        VmList vms;
        double start = Now();
        records = control->ListVms(vms);
        ours += Now() - start;
        with_headless = 0;
        for (const VmRecord& vm : vms) {
            if (vm.headless_pid != 0) ++with_headless;
        }
        MakeCurrent(install_dir);
        start = Now();
        const std::string reply = RunCommand("memuc.exe memuc listvms");
        bare += Now() - start;
        if (reply.empty()) Note("listing: the bare list command printed nothing");
    }
    if (records != running || with_headless != running) {
        Note("listing N=" + std::to_string(running) + ": " + std::to_string(records) +
             " records, " + std::to_string(with_headless) + " with a headless process");
    }
    AddRow({"ListVms N=" + std::to_string(running) + " running", "ms/call", ours * 1000 / rounds,
            bare * 1000 / rounds, ours / bare, target, true});
    BenchFarmList(install_dir, running, rounds, farm_target);
    StopSimulatedVms(root);
}

// --- 4. one-key run -----------------------------------------------------------------------

class BenchRunHost : public OneKeyRunHost {
public:
    std::string DiscoverInstallDirectory() override { return ::DiscoverInstallDirectory(); }
    void MakeDirectoryCurrent(const std::string& folder) override { MakeCurrent(folder); }
    int32_t SelectedVmIndex() override { return 0; }
    int64_t CloneCount() override { return 100; }
    CommandOutcome RunCommand(const ToolLine& line) override { return {::RunCommand(line.Text())}; }
    void AppendLog(const std::string& text) override { log += text; }
    void PumpPendingMessages() override { ::PumpPendingMessages(); }
    bool StopRequested() override { return false; }

    std::string log;
};

// The run's 101 lines one by one on a fresh installation, each through `run` (given the tools
// folder, which is also current, and the line); how many clones succeeded, and the seconds it
// took.
template <typename RunFn>
std::pair<int, double> RunCloneLinesOneByOne(const char* tag, int clones, RunFn run) {
    const std::string install_dir = InstallSimulatedEmulator(MakeTempFolder(tag), 1);
    const std::string tools_dir = ToolsDirectoryFor(install_dir);
    MakeCurrent(tools_dir);
    int ok = 0;
    const double start = Now();
    // The window's plan: clones of VM 0 numbered from 101, named by the snapshot's name.
    const ClonePlan plan{MasterName(0), {}, false};
    run(tools_dir, plan.SnapshotLine());
    for (int i = 1; i <= clones; ++i) {
        if (run(tools_dir, plan.CloneLine(i)).find("successfully") != std::string::npos) ++ok;
    }
    return {ok, Now() - start};
}

constexpr int kBenchClones = 100;

// Three rounds of `ours` (given a fresh installation, runs 100 clones of VM 0 and says how many
// succeeded) against the same 101 lines run one by one through `bare`, each side on a fresh
// installation so that every clone number is free again.
template <typename OursFn, typename BareFn>
void BenchCloneRounds(const char* name, const char* tag, double target, OursFn ours_run,
                      BareFn bare_run) {
    constexpr int kRounds = 3;
    double ours = 0;
    double bare = 0;
    for (int round = 0; round < kRounds; ++round) {
        const std::string install_dir = InstallSimulatedEmulator(MakeTempFolder(tag), 1);
        const double start = Now();
        const int ours_ok = ours_run(install_dir);
        ours += Now() - start;
        const auto [bare_ok, bare_seconds] = RunCloneLinesOneByOne(tag, kBenchClones, bare_run);
        bare += bare_seconds;
        if (ours_ok != kBenchClones || bare_ok != kBenchClones)
            Note(std::string(name) + ": " + std::to_string(ours_ok) + " (ours) and " +
                 std::to_string(bare_ok) + " (bare) clones succeeded of " +
                 std::to_string(kBenchClones));
    }
    AddRow({name, "s/run", ours / kRounds, bare / kRounds, ours / bare, target, true});
}

void BenchOneKeyRun() {
    BenchCloneRounds(
        "one-key run, 100 clones", "bench-onekey", 1.2,
        [](std::string install_dir) {
            BenchRunHost host;
            std::string tools_dir;
            RunOneKey(host, {install_dir, tools_dir});
            return CountOccurrences(host.log, kCloneOkPrefix);
        },
        [](const std::string&, const std::string& line) { return RunCommand(line); });
}

// `MEmuFarm clone --count 100` against the 101 same lines, each started directly.
void BenchFarmClone() {
    BenchCloneRounds(
        "MEmuFarm clone, 100 clones", "bench-farm", 1.05,
        [](const std::string& install_dir) {
            const std::string log =
                BareDirectRun(BinDir(), "MEmuFarm.exe --json --install-dir " + install_dir +
                                            " clone --master 0 --count 100");
            const size_t at = log.find("\"registered\":");
            return at == std::string::npos ? 0 : std::atoi(log.c_str() + at + 13);
        },
        [](const std::string& tools_dir, const std::string& line) {
            return BareDirectRun(tools_dir, line);
        });
}

// --- 6. sets of VMs --------------------------------------------------------------------------

// Starts MEmuFarm with `arguments` and samples its handle count and private bytes from the
// process list while it runs; returns the peaks and the seconds it took.
struct FarmPeaks {
    double seconds = 0;
    uint32_t handles = 0;
    uint64_t private_bytes = 0;
};

// Starts MEmuFarm with `arguments`, its standard output into `out` (null: nowhere).
struct StartedFarm {
    UniqueHandle process;
    DWORD pid = 0;
};
StartedFarm StartFarm(const std::string& arguments, HANDLE out) {
    std::wstring line = WideFromGbk("MEmuFarm.exe " + arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    PROCESS_INFORMATION info = {};
    StartedFarm started;
    if (!CreateProcessW(WideFromGbk(BinDir() + "MEmuFarm.exe").c_str(), line.data(), nullptr,
                        nullptr, out != nullptr, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &info)) {
        Note("MEmuFarm could not be started: " + arguments);
        return started;
    }
    UniqueHandle thread(info.hThread);
    started.process.reset(info.hProcess);
    started.pid = info.dwProcessId;
    return started;
}

// The process's counters in the system's process list (zeros when it is not there).
ProcessReading ReadingOf(DWORD pid) {
    ProcessReading found;
    if (const auto list = ReadProcessList())
        for (const ProcessReading& reading : *list)
            if (reading.pid == pid) found = reading;
    return found;
}

FarmPeaks RunFarmWatched(const std::string& arguments) {
    FarmPeaks peaks;
    const double start = Now();
    const StartedFarm farm = StartFarm(arguments, nullptr);
    if (!farm.process) return peaks;
    while (WaitForSingleObject(farm.process.get(), 20) == WAIT_TIMEOUT) {
        const ProcessReading reading = ReadingOf(farm.pid);
        peaks.handles = std::max(peaks.handles, reading.handles);
        peaks.private_bytes = std::max(peaks.private_bytes, reading.peak_private_bytes);
    }
    peaks.seconds = Now() - start;
    return peaks;
}

// Twenty starts four at a time against the same twenty one after another, and the stagger.
// Each simulated memuc start is given one second of its own (the switch delay=1000): the real
// tool's start waits for the emulator's VM service for seconds, where the simulated one would
// otherwise take only the start of a process.
void BenchSets() {
    const std::string root = MakeTempFolder("bench-sets");
    const std::string install_dir = InstallSimulatedEmulator(root, 21);
    SetSimSwitches(root, "memuc.exe start delay=1000\r\n");
    double one_by_one = 0;
    for (int index = 1; index <= 20; ++index) {
        const double start = Now();
        BareDirectRun(install_dir, "memuc.exe memuc start -i " + std::to_string(index));
        one_by_one += Now() - start;
    }
    const double one_start = one_by_one / 20;
    StopSimulatedVms(root);
    const FarmPeaks parallel = RunFarmWatched("start 1-20 --wait --parallel 4");
    AddRow({"start 1-20 --parallel 4", "s", parallel.seconds, one_by_one,
            parallel.seconds / one_by_one, 0.35, true});
    StopSimulatedVms(root);
    const FarmPeaks staggered = RunFarmWatched("start 1-20 --wait --parallel 4 --stagger 1");
    const double bound = 19 + 1.5 * one_start;
    AddRow({"start 1-20 ... --stagger 1", "s", staggered.seconds, bound, staggered.seconds / bound,
            1.0, true});
    if (staggered.seconds < 19) Note("sets: the staggered starts took less than 19 s");
    StopSimulatedVms(root);

    // Handles and private bytes over 200 VMs: one at a time, 32 at a time, and 32 at a time over
    // a quarter of the VMs (what grows with the set rather than with the workers).
    InstallSimulatedEmulator(root, 200);
    const FarmPeaks serial = RunFarmWatched("getconfig 0-199 fps");
    const FarmPeaks wide = RunFarmWatched("getconfig 0-199 fps --parallel 32");
    const FarmPeaks quarter = RunFarmWatched("getconfig 0-49 fps --parallel 32");
    const FarmPeaks widest = RunFarmWatched("getconfig 0-199 fps --parallel 64");
    const double mib = 1024.0 * 1024;
    AddRow({"200 VMs --parallel 32, handles", "handles", static_cast<double>(wide.handles),
            static_cast<double>(serial.handles),
            static_cast<double>(wide.handles) / std::max<uint32_t>(serial.handles, 1), -1, true});
    AddRow({"200 VMs --parallel 32, private", "MiB", wide.private_bytes / mib,
            serial.private_bytes / mib,
            static_cast<double>(wide.private_bytes) / std::max<uint64_t>(serial.private_bytes, 1),
            2.0, true});
    AddRow({"200 VMs --parallel 64, private", "MiB", widest.private_bytes / mib,
            serial.private_bytes / mib,
            static_cast<double>(widest.private_bytes) / std::max<uint64_t>(serial.private_bytes, 1),
            -1, true});
    char text[200];
    std::snprintf(
        text, sizeof text,
        "sets: 50 VMs --parallel 32: %u handles, %.1f MiB private; 200 VMs: %u, %.1f MiB; "
        "--parallel 1: %u, %.1f MiB",
        quarter.handles, quarter.private_bytes / mib, wide.handles, wide.private_bytes / mib,
        serial.handles, serial.private_bytes / mib);
    Note(text);
}

// --- 7. farm health ---------------------------------------------------------------------------

// `health` over 200 running VMs against its own sample plus one bare `memuc listvms`; then the
// handles and private bytes of `health --watch 1` after its first round and after round 300.
void BenchHealth() {
    const std::string root = MakeTempFolder("bench-health");
    const std::string install_dir = InstallSimulatedEmulator(root, 200);
    TestAdbPort server_port;  // the adb server of these runs, on a port of its own
    SetSimSwitches(root, "adb.exe * boot=0\r\n");
    BareDirectRun(BinDir(), "MEmuFarm.exe start 0-199 --wait --parallel 8");
    if (!FarmIsWhole(install_dir, 200, "health")) {
        server_port.EndServer(root);
        StopSimulatedVms(root);
        return;
    }
    constexpr int kRounds = 3;
    double ours = 0;
    double bare = 0;
    int unhealthy_runs = 0;
    for (int i = 0; i < kRounds; ++i) {
        double start = Now();
        const std::string out = BareDirectRun(BinDir(), "MEmuFarm.exe --json health --sample 1");
        ours += Now() - start;
        if (out.find("\"unhealthy\":0,") == std::string::npos) ++unhealthy_runs;
        start = Now();
        BareDirectRun(install_dir, "memuc.exe memuc listvms");
        bare += Now() - start + 1.0;
    }
    if (unhealthy_runs)
        Note("health: " + std::to_string(unhealthy_runs) + " runs found unhealthy VMs");
    AddRow(
        {"health, 200 running VMs", "s", ours / kRounds, bare / kRounds, ours / bare, 1.5, true});
    // What the adb questions alone cost: the same 200 adb starts, 16 at a time.
    const double adb_start = Now();
    BareDirectRun(BinDir(),
                  "MEmuFarm.exe adb 0-199 shell getprop sys.boot_completed --parallel 16");
    char adb_note[160];
    std::snprintf(adb_note, sizeof adb_note,
                  "health: the 200 adb questions alone (MEmuFarm adb 0-199 shell getprop ... "
                  "--parallel 16) took %.2f s",
                  Now() - adb_start);
    Note(adb_note);
    StopSimulatedVms(root);

    // Flat over time: 10 running VMs, rounds counted by the JSON lines written.
    InstallSimulatedEmulator(root, 10);
    SetSimSwitches(root, "adb.exe * boot=0\r\n");
    BareDirectRun(BinDir(), "MEmuFarm.exe start 0-9 --wait --parallel 4");
    const std::wstring out_path = WideFromGbk(BinDir() + "bench-watch.jsonl");
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueFileHandle out(CreateFileW(out_path.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0,
                                     nullptr));
    const StartedFarm farm = StartFarm("health --watch 1 --sample 0.5", out.get());
    if (!farm.process) return;
    auto rounds_written = [] {
        std::string text;
        sim::ReadFileBytes(BinDir() + "bench-watch.jsonl", &text);
        return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    };
    ProcessReading first;
    ProcessReading last;
    const double started = Now();
    for (int rounds = 0; rounds < 300 && Now() - started < 900;) {
        Sleep(250);
        const int now = rounds_written();
        if (rounds < 1 && now >= 1) first = ReadingOf(farm.pid);
        rounds = now;
        if (rounds >= 300) last = ReadingOf(farm.pid);
    }
    TerminateProcess(farm.process.get(), 0);
    WaitForSingleObject(farm.process.get(), 5000);
    const double mib = 1024.0 * 1024;
    AddRow({"health --watch 1, private", "MiB", last.private_bytes / mib, first.private_bytes / mib,
            static_cast<double>(last.private_bytes) / std::max<uint64_t>(first.private_bytes, 1),
            1.1, true});
    AddRow({"health --watch 1, handles", "handles", static_cast<double>(last.handles),
            static_cast<double>(first.handles),
            static_cast<double>(last.handles) / std::max<uint32_t>(first.handles, 1), 1.1, true});
    Note("health: " + std::to_string(rounds_written()) + " rounds of --watch 1 in " +
         std::to_string(static_cast<int>(Now() - started)) + " s (first and last readings above)");
    StopSimulatedVms(root);
    server_port.EndServer(root);
}

// --- 8. the adb server -------------------------------------------------------------------------

// Through the adb server on a port of the benchmark's own: `health` over 200 running VMs against
// its sample plus one bare `memuc listvms`; `tap 0-199` against 200 bare adb.exe runs one after
// another; and the same `tap 0-199` when the run falls back to adb.exe (nothing on the port and
// `adb.exe start-server` failing).
void BenchAdbServer() {
    const std::string root = MakeTempFolder("bench-adb");
    const std::string install_dir = InstallSimulatedEmulator(root, 200);
    auto server_port = std::make_unique<TestAdbPort>();
    SetSimSwitches(root, "adb.exe * boot=0\r\n");
    BareDirectRun(BinDir(), "MEmuFarm.exe start 0-199 --wait --parallel 8");
    if (!FarmIsWhole(install_dir, 200, "adb")) {
        server_port->EndServer(root);
        StopSimulatedVms(root);
        return;
    }

    double start = Now();
    const std::string health = BareDirectRun(BinDir(), "MEmuFarm.exe --json health --sample 1");
    const double ours_health = Now() - start;
    if (health.find("\"unhealthy\":0,") == std::string::npos ||
        health.find("\"adb\":\"server\"") == std::string::npos)
        Note("adb: the health run found unhealthy VMs or did not use the server");
    start = Now();
    BareDirectRun(install_dir, "memuc.exe memuc listvms");
    const double bare_health = Now() - start + 1.0;
    AddRow({"health via server, 200 VMs", "s", ours_health, bare_health, ours_health / bare_health,
            1.5, true});

    start = Now();
    const std::string tapped = BareDirectRun(BinDir(), "MEmuFarm.exe --json tap 0-199 10 20");
    const double ours_tap = Now() - start;
    if (tapped.find("\"counts\":{\"ok\":200}") == std::string::npos) Note("adb: tap: " + tapped);
    start = Now();
    for (int index = 0; index < 200; ++index)
        BareDirectRun(install_dir, "adb.exe -s 127.0.0.1:" + std::to_string(21503 + 10 * index) +
                                       " shell input tap 10 20");
    const double bare_tap = Now() - start;
    AddRow({"tap 0-199 via server", "s", ours_tap, bare_tap, ours_tap / bare_tap, 0.2, true});

    // The fallback: a port nothing listens on, and a start-server that fails.
    server_port->EndServer(root);
    const TestAdbPort closed_port;
    SetSimSwitches(root, "adb.exe * boot=0\r\nadb.exe start-server fail\r\n");
    start = Now();
    const std::string fallback = BareDirectRun(BinDir(), "MEmuFarm.exe --json tap 0-199 10 20");
    const double ours_fallback = Now() - start;
    if (fallback.find("\"adb\":\"process\"") == std::string::npos)
        Note("adb: the fallback run did not fall back");
    AddRow({"tap 0-199 via adb.exe", "s", ours_fallback, bare_tap, ours_fallback / bare_tap, -1,
            true});
    SetSimSwitches(root, "");
    StopSimulatedVms(root);
}

// --- 8. the healing watch ---------------------------------------------------------------------

// Lines of the file (JSON lines of a redirected watch) that hold `part`.
int LinesHolding(const std::string& path, const std::string& part) {
    std::string text;
    sim::ReadFileBytes(path, &text);
    int count = 0;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1)
        if (text.substr(start, end - start).find(part) != std::string::npos) ++count;
    return count;
}

// An inheritable file for a child's standard output.
UniqueFileHandle OutputFile(const std::string& path) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return UniqueFileHandle(CreateFileW(WideFromGbk(path).c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                        0, nullptr));
}

double CpuSeconds(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

// The supervisor's own cost: `health all --watch 5 --heal` over 200 healthy VMs for 60 rounds,
// its CPU per round beside one plain `health`'s, and its private bytes at round 1 and 60.
void BenchHealOverhead() {
    const std::string root = MakeTempFolder("bench-heal");
    const std::string install_dir = InstallSimulatedEmulator(root, 200);
    TestAdbPort server_port;  // the adb server of these runs, on a port of its own
    SetSimSwitches(root, "adb.exe * boot=0\r\n");
    BareDirectRun(BinDir(), "MEmuFarm.exe start 0-199 --wait --parallel 8");
    if (!FarmIsWhole(install_dir, 200, "heal")) {
        server_port.EndServer(root);
        StopSimulatedVms(root);
        return;
    }

    const std::string plain_path = BinDir() + "bench-heal-plain.json";
    double plain_cpu = 0;
    {
        UniqueFileHandle out = OutputFile(plain_path);
        const StartedFarm plain = StartFarm("--json health --sample 1", out.get());
        if (!plain.process) return;
        WaitForSingleObject(plain.process.get(), 300000);
        plain_cpu = CpuSeconds(plain.process.get());
    }

    constexpr int kRounds = 60;
    const std::string path = BinDir() + "bench-heal.jsonl";
    UniqueFileHandle out = OutputFile(path);
    const StartedFarm farm = StartFarm("health all --watch 5 --heal --sample 1", out.get());
    if (!farm.process) return;
    ProcessReading first;
    ProcessReading last;
    const double started = Now();
    int rounds = 0;
    while (rounds < kRounds && Now() - started < 1800) {
        Sleep(250);
        const int now = LinesHolding(path, "\"sampled_at\"");
        if (rounds < 1 && now >= 1) first = ReadingOf(farm.pid);
        rounds = now;
        if (rounds >= kRounds) last = ReadingOf(farm.pid);
    }
    const int actions = LinesHolding(path, "\"event\":\"heal\"");
    TerminateProcess(farm.process.get(), 0);
    WaitForSingleObject(farm.process.get(), 5000);
    const double mib = 1024.0 * 1024;
    const double per_round =
        static_cast<double>(last.cpu_time - first.cpu_time) / 1e7 / (kRounds - 1);
    AddRow({"heal watch, CPU/round", "s", per_round, plain_cpu,
            per_round / std::max(plain_cpu, 1e-6), -1, true});
    AddRow({"heal watch, private", "MiB", last.private_bytes / mib, first.private_bytes / mib,
            static_cast<double>(last.private_bytes) / std::max<uint64_t>(first.private_bytes, 1),
            1.1, true});
    char text[240];
    std::snprintf(text, sizeof text,
                  "heal: %d rounds of health all --watch 5 --heal over 200 healthy VMs in %.0f s, "
                  "%d heal actions (0 expected); a plain health took %.2f CPU s",
                  rounds, Now() - started, actions, plain_cpu);
    Note(text);
    StopSimulatedVms(root);
    server_port.EndServer(root);
}

// The VM's window handle from memuc's listing, or null.
HWND ListedWindow(const std::string& install_dir, int index) {
    const std::string listing = BareDirectRun(install_dir, "memuc.exe memuc listvms");
    const std::string prefix = std::to_string(index) + ",";
    for (size_t start = 0, end; (end = listing.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const std::string line = listing.substr(start, end - start);
        if (line.rfind(prefix, 0) != 0) continue;
        const size_t title_end = line.find(',', prefix.size());
        if (title_end == std::string::npos) return nullptr;
        return reinterpret_cast<HWND>(
            static_cast<intptr_t>(std::atoll(line.c_str() + title_end + 1)));
    }
    return nullptr;
}

uint32_t HeadlessPid(const std::string& root, int index) {
    for (const sim::Vm& vm : SimVms(root))
        if (vm.index == index && vm.started) return vm.pid;
    return 0;
}

// Whether the window takes a message as the health check asks it (a hung one fails at once
// on Windows; Wine waits out the time-out).
bool WindowAnswers(HWND window) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &result) != 0;
}

// From the moment a VM's window stops answering to the moment its new instance answers adb,
// against heal-after x interval + the simulated boot time. The hung instance is started with
// no boot time, so that its window hangs as soon as it is up; the restarted one boots in
// kBootMs.
void BenchTimeToHeal() {
    constexpr int kBootMs = 5000;
    constexpr double kInterval = 3;
    constexpr int kHealAfter = 2;
    constexpr int kTrials = 3;
    const std::string root = MakeTempFolder("bench-heal-time");
    const std::string install_dir = InstallSimulatedEmulator(root, 2);
    TestAdbPort server_port;  // the adb server of these runs, on a port of its own
    const std::string boot = "adb.exe * boot=" + std::to_string(kBootMs) + "\r\n";
    double total = 0;
    int measured = 0;
    for (int trial = 0; trial < kTrials; ++trial) {
        SetSimSwitches(root, "adb.exe * boot=0\r\nMEmuHeadless.exe * hungwindow 1\r\n");
        BareDirectRun(BinDir(), "MEmuFarm.exe stop 1 --wait");
        BareDirectRun(BinDir(), "MEmuFarm.exe start 1 --wait");
        SetSimSwitches(root, boot);  // the restarted instance answers, once booted
        const uint32_t hung_pid = HeadlessPid(root, 1);
        const HWND window = ListedWindow(install_dir, 1);
        if (!window) {
            Note("heal: the simulated VM has no window: no time to heal measured");
            break;
        }
        UniqueFileHandle out = OutputFile(BinDir() + "bench-heal-time.jsonl");
        const StartedFarm farm =
            StartFarm("health 1 --watch " + std::to_string(static_cast<int>(kInterval)) +
                          " --sample 0.2 --heal --heal-after " + std::to_string(kHealAfter),
                      out.get());
        if (!farm.process) return;
        double hung_at = 0;
        double answered_at = 0;
        const double started = Now();
        while (Now() - started < 120) {
            if (!hung_at) {
                const double asked = Now();
                if (!WindowAnswers(window)) hung_at = asked;
                continue;
            }
            Sleep(50);
            const uint32_t pid = HeadlessPid(root, 1);
            if (pid == 0 || pid == hung_pid) continue;
            const std::string answer = BareDirectRun(
                install_dir, "adb.exe -s 127.0.0.1:21513 shell getprop sys.boot_completed");
            if (answer.rfind("1", 0) == 0) {
                answered_at = Now();
                break;
            }
        }
        TerminateProcess(farm.process.get(), 0);
        WaitForSingleObject(farm.process.get(), 5000);
        if (hung_at && answered_at) {
            total += answered_at - hung_at;
            ++measured;
        } else {
            Note("heal: trial " + std::to_string(trial) + " did not heal within 120 s");
        }
    }
    const double expected = kHealAfter * kInterval + kBootMs / 1000.0;
    const double mean = measured ? total / measured : 0;
    AddRow({"time to heal (mean of 3)", "s", mean, expected, mean / expected, 1.2, true});
    char text[200];
    std::snprintf(text, sizeof text,
                  "heal: from the window not answering to adb answering on the new instance, "
                  "--watch 3 --heal-after 2, boot %d ms: %d of %d trials healed",
                  kBootMs, measured, kTrials);
    Note(text);
    StopSimulatedVms(root);
    server_port.EndServer(root);
}

// --- 9. the web service -----------------------------------------------------------------------

constexpr const char* kBenchToken = "bench-token-bench-token-bench-token-0123456789";

// MEmuFarm serve as a process of its own, up once it printed its address (30 s at most).
struct ServedFarm {
    UniqueHandle process;
    int port = 0;
    double listing_s = 0;  // from the address printed to the service's own first listing's end
};

ServedFarm StartServe(const std::string& folder, const std::string& more = "") {
    ServedFarm served;
    served.port = FreeLoopbackPort();
    const std::string token_file = folder + "token.txt";
    {
        UniqueFileHandle file(CreateFileW(WideFromGbk(token_file).c_str(), GENERIC_WRITE, 0,
                                          nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD wrote = 0;
        WriteFile(file.get(), kBenchToken, static_cast<DWORD>(std::strlen(kBenchToken)), &wrote,
                  nullptr);
    }
    const std::string out_path = folder + "serve-out.txt";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueFileHandle out(CreateFileW(WideFromGbk(out_path).c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0,
                                     nullptr));
    UniqueFileHandle err(CreateFileW(WideFromGbk(folder + "serve-err.txt").c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0,
                                     nullptr));
    std::wstring line = WideFromGbk(
        "MEmuFarm.exe serve --max-calls 64 --listen 127.0.0.1:" + std::to_string(served.port) +
        " --token-file \"" + token_file + "\"" + more);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
    PROCESS_INFORMATION info = {};
    const std::wstring exe = WideFromGbk(BinDir() + "MEmuFarm.exe");
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info))
        return {};
    served.process.reset(info.hProcess);
    CloseHandle(info.hThread);
    const double start = Now();
    while (ReadWhole(out_path).find("/?token=") == std::string::npos) {
        if (Now() - start > 30 || WaitForSingleObject(served.process.get(), 50) == WAIT_OBJECT_0)
            return {};
    }
    // The service lists the farm once as it starts: what is measured comes after it.
    const double up = Now();
    const std::string err_path = folder + "serve-err.txt";
    while (Now() - up < 60) {
        if (ReadWhole(err_path).find(" page listing") != std::string::npos) {
            served.listing_s = Now() - up;
            return served;
        }
        if (WaitForSingleObject(served.process.get(), 50) == WAIT_OBJECT_0) break;
    }
    return {};
}

HttpAnswer AskServe(const ServedFarm& served, const std::string& argv) {
    const std::string body = "{\"argv\": " + argv + "}";
    const std::string request =
        "POST /api/run HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(served.port) +
        "\r\nAuthorization: Bearer " + kBenchToken +
        "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
    return HttpExchange(served.port, request, 600000);
}

// The system's process list's commit charge: GetProcessMemoryInfo tells Wine's nothing of
// another process.
SIZE_T PrivateBytes(HANDLE process) {
    return static_cast<SIZE_T>(ReadingOf(GetProcessId(process)).private_bytes);
}

void BenchServe() {
    const Winsock winsock;
    const std::string root = MakeTempFolder("bench-serve");
    const std::string install_dir = InstallSimulatedEmulator(root, 200);
    auto adb_port = std::make_unique<TestAdbPort>();
    SetSimSwitches(root, "adb.exe * boot=0\r\n");
    BareDirectRun(BinDir(), "MEmuFarm.exe start 0-199 --wait --parallel 8");
    if (!FarmIsWhole(install_dir, 200, "serve")) {
        adb_port->EndServer(root);
        StopSimulatedVms(root);
        return;
    }
    const ServedFarm served = StartServe(root);
    if (!served.process) {
        Note("serve: the server did not start");
        return;
    }

    // list at 200 running VMs, listed afresh each time.
    constexpr int kListRounds = 10;
    double ours = 0;
    double console = 0;
    bool listed = true;
    for (int i = 0; i < kListRounds; ++i) {
        double start = Now();
        const HttpAnswer answer = AskServe(served, R"(["list"])");
        ours += Now() - start;
        listed = listed && answer.status == 200;
        start = Now();
        BareDirectRun(BinDir(), "MEmuFarm.exe --json list");
        console += Now() - start;
    }
    if (!listed) Note("serve: a list over the web was not answered 200");
    AddRow({"/api/run list, 200 VMs", "ms/run", ours * 1000 / kListRounds,
            console * 1000 / kListRounds, ours / console, 0.8, true});

    // Once each first, unmeasured: the first tap of the run finds no adb server, starts it and
    // pays for the server's first connection to each of the 200 devices (about three times a
    // later tap), whichever of the two goes first.
    AskServe(served, R"(["tap", "0-199", "10", "20"])");
    BareDirectRun(BinDir(), "MEmuFarm.exe --json tap 0-199 10 20");
    constexpr int kTapRounds = 3;
    ours = 0;
    console = 0;
    bool tapped = true;
    for (int i = 0; i < kTapRounds; ++i) {
        double start = Now();
        const HttpAnswer answer = AskServe(served, R"(["tap", "0-199", "10", "20"])");
        ours += Now() - start;
        tapped = tapped && answer.status == 200 &&
                 answer.body.find("\"counts\":{\"ok\":200}") != std::string::npos;
        start = Now();
        BareDirectRun(BinDir(), "MEmuFarm.exe --json tap 0-199 10 20");
        console += Now() - start;
    }
    if (!tapped) Note("serve: a tap over the web did not tap all 200 VMs");
    AddRow({"/api/run tap 0-199", "s/run", ours / kTapRounds, console / kTapRounds, ours / console,
            1.1, true});

    // Memory after 10,000 requests against after 100: mostly --version, every 100th a list.
    constexpr int kRequests = 10000;
    constexpr int kClients = 8;
    std::atomic<int> next{0};
    std::atomic<int> done{0};
    std::atomic<int> unanswered{0};
    std::atomic<SIZE_T> after_100{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&] {
            for (int i = next++; i < kRequests; i = next++) {
                const HttpAnswer answer =
                    AskServe(served, i % 100 == 0 ? R"(["list"])" : R"(["--version"])");
                if (answer.status != 200) ++unanswered;
                if (++done == 100) after_100 = PrivateBytes(served.process.get());
            }
        });
    for (std::thread& client : clients) client.join();
    const SIZE_T after_all = PrivateBytes(served.process.get());
    if (unanswered.load())
        Note("serve: " + std::to_string(unanswered.load()) +
             " of the 10,000 requests were not answered 200");
    const double mib = 1024.0 * 1024.0;
    AddRow({"serve private, 10k vs 100", "MiB", after_all / mib, after_100.load() / mib,
            static_cast<double>(after_all) / static_cast<double>(after_100.load()), 1.1, true});

    TerminateProcess(served.process.get(), 0);
    WaitForSingleObject(served.process.get(), 10000);
    adb_port->EndServer(root);
    SetSimSwitches(root, "");
    StopSimulatedVms(root);
}

// MEmuFarm mcp over its own pipes: requests written a line each, answers read by their id.
class McpPipe {
public:
    bool Start(const std::string& arguments) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE child_in = nullptr, child_out = nullptr, in = nullptr, out = nullptr;
        if (!CreatePipe(&child_in, &in, &inherit, 0) || !CreatePipe(&out, &child_out, &inherit, 0))
            return false;
        SetHandleInformation(in, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(out, HANDLE_FLAG_INHERIT, 0);
        in_.reset(in);
        out_.reset(out);
        std::wstring line = WideFromGbk("MEmuFarm.exe mcp " + arguments);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = child_in;
        startup.hStdOutput = child_out;
        startup.hStdError = nullptr;
        PROCESS_INFORMATION info = {};
        const BOOL started =
            CreateProcessW(WideFromGbk(BinDir() + "MEmuFarm.exe").c_str(), line.data(), nullptr,
                           nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info);
        CloseHandle(child_in);
        CloseHandle(child_out);
        if (!started) return false;
        UniqueHandle thread(info.hThread);
        process_.reset(info.hProcess);
        pid_ = info.dwProcessId;
        Send(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":)"
             R"("2025-06-18","capabilities":{},"clientInfo":{"name":"bench","version":"1"}}})");
        Send(R"({"jsonrpc":"2.0","method":"notifications/initialized"})");
        return !Answer(0).empty();
    }
    // Sends a request; returns its id.
    int Request(const std::string& method, const std::string& params) {
        const int id = ++last_id_;
        Send(R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":")" + method +
             R"(","params":)" + params + "}");
        return id;
    }
    int Call(const std::string& tool, const std::string& arguments) {
        return Request("tools/call", R"({"name":")" + tool + R"(","arguments":)" + arguments + "}");
    }
    // The answer to request `id` (empty when the server's output ended first).
    std::string Answer(int id) {
        const std::string head = R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + ",";
        for (;;) {
            for (auto line = lines_.begin(); line != lines_.end(); ++line)
                if (line->rfind(head, 0) == 0) {
                    std::string found = std::move(*line);
                    lines_.erase(line);
                    return found;
                }
            char chunk[65536];
            DWORD got = 0;
            if (!ReadFile(out_.get(), chunk, sizeof chunk, &got, nullptr) || got == 0) return {};
            pending_.append(chunk, got);
            for (size_t end; (end = pending_.find('\n')) != std::string::npos;) {
                std::string line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                if (line.find(R"("method":"notifications/)") == std::string::npos)
                    lines_.push_back(std::move(line));
            }
        }
    }
    uint64_t PrivateBytes() const { return ReadingOf(pid_).private_bytes; }
    // Input's end; the server is ended when it has not exited within `wait_ms`.
    void End(DWORD wait_ms) {
        in_.reset();
        if (process_ && WaitForSingleObject(process_.get(), wait_ms) == WAIT_TIMEOUT)
            TerminateProcess(process_.get(), 1);
    }

private:
    void Send(const std::string& line) {
        const std::string bytes = line + "\n";
        DWORD wrote = 0;
        WriteFile(in_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr);
    }

    UniqueHandle process_;
    UniqueHandle in_;
    UniqueHandle out_;
    DWORD pid_ = 0;
    int last_id_ = 0;
    std::string pending_;
    std::vector<std::string> lines_;
};

// The farm's tools called by an agent against the console run for the same work, and the
// server's own costs: its memory over many calls, a ping while calls hang.
void BenchMcp() {
    const std::string root = MakeTempFolder("bench-mcp");
    const std::string install_dir = InstallSimulatedEmulator(root, 200);
    TestAdbPort server_port;
    SetSimSwitches(root, "adb.exe * boot=0\r\n");
    McpPipe mcp;
    if (!mcp.Start("--install-dir " + install_dir)) {
        Note("mcp: MEmuFarm mcp did not start or answer initialize");
        return;
    }
    // A listing afresh each call, against one `MEmuFarm list` run with its process start.
    constexpr int kListRounds = 10;
    double ours = 0;
    double bare = 0;
    for (int i = 0; i < kListRounds; ++i) {
        double start = Now();
        if (mcp.Answer(mcp.Call("list", "{}")).find(R"("isError":false)") == std::string::npos)
            Note("mcp: a list call was an error");
        ours += Now() - start;
        start = Now();
        BareDirectRun(BinDir(), "MEmuFarm.exe --install-dir " + install_dir + " list");
        bare += Now() - start;
    }
    AddRow({"tools/call list, 200 VMs", "ms/call", ours * 1000 / kListRounds,
            bare * 1000 / kListRounds, ours / bare, 0.8, true});

    // A tap over 200 running VMs against the console's `tap 0-199`.
    BareDirectRun(BinDir(),
                  "MEmuFarm.exe --install-dir " + install_dir + " start 0-199 --wait --parallel 8");
    if (!FarmIsWhole(install_dir, 200, "mcp")) {
        server_port.EndServer(root);
        StopSimulatedVms(root);
        return;
    }
    // Once each first, unmeasured: the first tap pays for the adb server's start.
    mcp.Answer(mcp.Call("tap", R"({"set":"0-199","x":10,"y":10,"parallel":16})"));
    BareDirectRun(BinDir(),
                  "MEmuFarm.exe --install-dir " + install_dir + " tap 0-199 10 10 --parallel 16");
    double start = Now();
    const std::string tapped =
        mcp.Answer(mcp.Call("tap", R"({"set":"0-199","x":10,"y":10,"parallel":16})"));
    ours = Now() - start;
    if (tapped.find(R"("isError":false)") == std::string::npos) Note("mcp: the tap call failed");
    start = Now();
    BareDirectRun(BinDir(),
                  "MEmuFarm.exe --install-dir " + install_dir + " tap 0-199 10 10 --parallel 16");
    bare = Now() - start;
    AddRow({"tools/call tap, 200 VMs", "s", ours, bare, ours / bare, 1.1, true});
    StopSimulatedVms(root);

    // The server's memory after 1,000 calls against after 10, 16 at a time.
    const auto calls = [&mcp](int count) {
        for (int done = 0; done < count;) {
            std::vector<int> ids;
            for (int i = 0; i < 16 && done + i < count; ++i)
                ids.push_back(mcp.Call("running", R"({"set":"1"})"));
            for (int id : ids) mcp.Answer(id);
            done += static_cast<int>(ids.size());
        }
    };
    calls(10);
    const uint64_t after_10 = mcp.PrivateBytes();
    calls(990);
    const uint64_t after_1000 = mcp.PrivateBytes();
    AddRow({"mcp private bytes, 1000 calls", "MB", after_1000 / 1048576.0, after_10 / 1048576.0,
            after_10 ? static_cast<double>(after_1000) / after_10 : 0, 1.1, true});

    // A ping alone, then while 16 calls hang in their tools.
    constexpr int kPings = 20;
    const auto pings = [&mcp] {
        const double began = Now();
        for (int i = 0; i < kPings; ++i) mcp.Answer(mcp.Request("ping", "{}"));
        return (Now() - began) / kPings;
    };
    const double alone = pings();
    SetSimSwitches(root, "memuc.exe shake hang\r\n");
    for (int i = 1; i <= 16; ++i) mcp.Call("shake", R"({"set":")" + std::to_string(i) + R"("})");
    Sleep(3000);  // their tools started and hanging
    const double busy = pings();
    AddRow(
        {"mcp ping, 16 calls hanging", "ms", busy * 1000, alone * 1000, busy / alone, 2.0, true});
    mcp.End(10000);
    SetSimSwitches(root, "");
    StopSimulatedVms(root);
}

// One MCP session over MEmuFarm serve's /mcp: each message its own POST (the server closes
// every connection after its answer), the session's id from initialize's answer.
class McpHttp {
public:
    explicit McpHttp(int port) : port_(port) {}
    bool Begin() {
        const HttpAnswer answer =
            Post(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":)"
                 R"("2025-11-25","capabilities":{},"clientInfo":{"name":"bench","version":"1"}}})");
        const std::string field = "Mcp-Session-Id: ";
        const size_t at = answer.head.find(field);
        if (answer.status != 200 || at == std::string::npos) return false;
        session_ = answer.head.substr(at + field.size(), 32);
        return Post(R"({"jsonrpc":"2.0","method":"notifications/initialized"})").status == 202;
    }
    // The answer's body (JSON, or the event stream that ends in the answer).
    std::string Call(const std::string& tool, const std::string& arguments) {
        return Post(R"({"jsonrpc":"2.0","id":)" + std::to_string(++last_id_) +
                    R"(,"method":"tools/call","params":{"name":")" + tool + R"(","arguments":)" +
                    arguments + "}}")
            .body;
    }
    bool End() { return Send("DELETE", "").status == 200; }

private:
    HttpAnswer Post(const std::string& body) { return Send("POST", body); }
    HttpAnswer Send(const std::string& method, const std::string& body) {
        std::string request = method +
                              " /mcp HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                              "\r\nAuthorization: Bearer " + kBenchToken +
                              "\r\nAccept: application/json, text/event-stream\r\n";
        if (!session_.empty()) request += "Mcp-Session-Id: " + session_ + "\r\n";
        if (method == "POST")
            request +=
                "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\n";
        return HttpExchange(port_, request + "Connection: close\r\n\r\n" + body, 600000);
    }

    int port_;
    std::string session_;
    int last_id_ = 0;
};

// MCP over serve's HTTP against the same over mcp's stdio, and the server's memory over many
// sessions.
void BenchMcpHttp() {
    const Winsock winsock;
    const std::string root = MakeTempFolder("bench-mcp-http");
    const std::string install_dir = InstallSimulatedEmulator(root, 200);
    TestAdbPort server_port;
    SetSimSwitches(root, "adb.exe * boot=0\r\n");
    McpPipe stdio;
    const ServedFarm served = StartServe(root);
    McpHttp http(served.port);
    if (!stdio.Start("--install-dir " + install_dir) || !served.process || !http.Begin()) {
        Note("mcp-http: a server did not start or answer initialize");
        return;
    }
    // The same listing afresh each call, by turns.
    constexpr int kListRounds = 20;
    double over_http = 0;
    double over_stdio = 0;
    bool listed = true;
    for (int i = 0; i < kListRounds; ++i) {
        double start = Now();
        listed = listed && http.Call("list", "{}").find(R"("isError":false)") != std::string::npos;
        over_http += Now() - start;
        start = Now();
        listed = listed && stdio.Answer(stdio.Call("list", "{}")).find(R"("isError":false)") !=
                               std::string::npos;
        over_stdio += Now() - start;
    }
    if (!listed) Note("mcp-http: a list call was an error");
    AddRow({"tools/call list, HTTP/stdio", "ms/call", over_http * 1000 / kListRounds,
            over_stdio * 1000 / kListRounds, over_http / over_stdio, 1.2, true});
    http.End();
    stdio.End(10000);

    // Sessions opened (initialize, one call) and ended, one after another.
    int failed = 0;
    const auto sessions = [&](int count) {
        for (int i = 0; i < count; ++i) {
            McpHttp session(served.port);
            const bool ok =
                session.Begin() &&
                session.Call("running", R"({"set":"1"})").find("\"result\"") != std::string::npos &&
                session.End();
            if (!ok) ++failed;
        }
    };
    sessions(10);
    const SIZE_T after_10 = PrivateBytes(served.process.get());
    sessions(990);
    const SIZE_T after_1000 = PrivateBytes(served.process.get());
    if (failed) Note("mcp-http: " + std::to_string(failed) + " of 1,000 sessions failed");
    const double mib = 1024.0 * 1024.0;
    AddRow({"serve private, 1000 vs 10 sessions", "MiB", after_1000 / mib, after_10 / mib,
            after_10 ? static_cast<double>(after_1000) / static_cast<double>(after_10) : 0, 1.1,
            true});

    TerminateProcess(served.process.get(), 0);
    WaitForSingleObject(served.process.get(), 10000);
    server_port.EndServer(root);
    SetSimSwitches(root, "");
    StopSimulatedVms(root);
}

// --- 12. the farm page ---------------------------------------------------------------------

HttpAnswer GetFromServe(int port, const std::string& target) {
    const std::string request =
        "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
        "\r\nAuthorization: Bearer " + kBenchToken + "\r\nConnection: close\r\n\r\n";
    return HttpExchange(port, request, 30000);
}

// The health rounds the service logged ("... page health round: N VMs in S s"): their times,
// and how many failed.
struct LoggedRounds {
    std::vector<double> seconds;
    int failed = 0;
};

LoggedRounds RoundsLogged(const std::string& folder) {
    const std::string text = ReadWhole(folder + "serve-err.txt");
    LoggedRounds rounds;
    rounds.failed = CountOccurrences(text, "page health round failed");
    const std::string mark = "page health round: ";
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1)) {
        const size_t in = text.find(" VMs in ", at);
        const size_t end = text.find('\n', at);
        if (in == std::string::npos || (end != std::string::npos && in > end)) continue;
        rounds.seconds.push_back(std::atof(text.c_str() + in + 8));
    }
    return rounds;
}

// A page kept open by the benchmark: the state asked for every `every_s` seconds, as the page
// does (with the version it has), each thumbnail's version step noted with its time.
class PagePoller {
public:
    PagePoller(int port, double every_s)
        : port_(port), every_s_(every_s), thread_([this] { Run(); }) {}
    ~PagePoller() {
        stop_ = true;
        thread_.join();
    }
    PagePoller(const PagePoller&) = delete;
    PagePoller& operator=(const PagePoller&) = delete;

    struct Steps {
        long long captures = 0;  // thumbnail version steps over all VMs
        double widest_gap = 0;   // the longest any VM went without a new thumbnail
        int widest_vm = -1;
        int vms = 0;  // VMs with a tile
    };
    // Over [from, to] (Now() seconds): a VM's gaps run from its last step before `from` (or
    // `from`, when it had none) through each step to `to`.
    Steps Between(double from, double to) const {
        std::lock_guard lock(mutex_);
        Steps steps;
        steps.vms = static_cast<int>(seen_.size());
        for (const auto& [vm, times] : seen_) {
            double last = from;
            for (const auto& [at, count] : times) {
                if (at > to) break;
                if (at < from) {
                    last = at;
                    continue;
                }
                steps.captures += count;
                if (at - last > steps.widest_gap) {
                    steps.widest_gap = at - last;
                    steps.widest_vm = vm;
                }
                last = at;
            }
            if (to - last > steps.widest_gap) {
                steps.widest_gap = to - last;
                steps.widest_vm = vm;
            }
        }
        return steps;
    }
    size_t LargestDocument() const { return largest_.load(); }
    int WithThumbnail() const { return with_thumbnail_.load(); }
    int Failed() const { return failed_.load(); }
    int Polls() const { return polls_.load(); }

private:
    void Run() {
        std::optional<uint64_t> version;
        std::map<int, uint64_t> thumbs;
        while (!stop_) {
            const double started = Now();
            const std::string target =
                "/api/page/state" + (version ? "?since=" + std::to_string(*version) : "");
            const HttpAnswer answer = GetFromServe(port_, target);
            ++polls_;
            if (answer.status == 200) {
                largest_ = std::max(largest_.load(), answer.body.size());
                const nlohmann::json state = nlohmann::json::parse(answer.body, nullptr, false);
                if (state.is_object() && state.contains("vms") && state["vms"].is_array()) {
                    version = state.value("version", uint64_t{0});
                    const double at = Now();
                    std::lock_guard lock(mutex_);
                    for (const nlohmann::json& vm : state["vms"]) {
                        const int index = vm.value("index", -1);
                        auto& times = seen_[index];
                        if (!vm.contains("thumb") || !vm["thumb"].is_number_unsigned()) continue;
                        const uint64_t thumb = vm["thumb"].get<uint64_t>();
                        const uint64_t known = thumbs[index];
                        if (thumb > known) times.emplace_back(at, thumb - known);
                        thumbs[index] = thumb;
                    }
                    int with = 0;
                    for (const auto& [index, thumb] : thumbs) with += thumb > 0;
                    with_thumbnail_ = with;
                } else {
                    ++failed_;
                }
            } else if (answer.status != 204) {
                ++failed_;
            }
            const double left = every_s_ - (Now() - started);
            if (left > 0) Sleep(static_cast<DWORD>(left * 1000));
        }
    }

    const int port_;
    const double every_s_;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> largest_{0};
    std::atomic<int> failed_{0};
    std::atomic<int> polls_{0};
    std::atomic<int> with_thumbnail_{0};
    mutable std::mutex mutex_;
    std::map<int, std::vector<std::pair<double, long long>>> seen_;  // VM -> (time, steps)
    std::thread thread_;
};

// CPU seconds so far of a running process, and of every process named `exe_name` (GBK), from
// the system's process list (GetProcessTimes tells Wine's nothing of another running process).
double ListedCpuSeconds(DWORD pid) {
    return static_cast<double>(ReadingOf(pid).cpu_time) / 1e7;
}

double ListedCpuSeconds(const std::string& exe_name) {
    uint64_t ticks = 0;
    if (const auto list = ReadProcessList())
        for (const ProcessReading& reading : *list)
            if (_stricmp(reading.exe_name.c_str(), exe_name.c_str()) == 0)
                ticks += reading.cpu_time;
    return static_cast<double>(ticks) / 1e7;
}

void EndServe(ServedFarm& served) {
    if (!served.process) return;
    TerminateProcess(served.process.get(), 0);
    WaitForSingleObject(served.process.get(), 10000);
    served.process.reset();
}

// The browser's first load: scripts/bench.sh runs bench/page/first-load.mjs (Chromium on the
// host) once the request file names the service's port and token, and writes its answer
// ("name value" lines, or "error WHY") to the answer file. Nothing answers when the
// benchmark runs without that script: the rows are then not measured, and said so.
std::map<std::string, std::string> AskBrowser(int port, double seconds) {
    const std::string request = BinDir() + "page-browser.txt";
    const std::string answer = BinDir() + "page-browser-row.txt";
    DeleteFileW(WideFromGbk(answer).c_str());
    {
        const std::string text = std::to_string(port) + " " + kBenchToken + "\n";
        const std::string partial = request + ".part";
        UniqueFileHandle file(CreateFileW(WideFromGbk(partial).c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, 0, nullptr));
        DWORD wrote = 0;
        WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr);
        file.reset();
        MoveFileExW(WideFromGbk(partial).c_str(), WideFromGbk(request).c_str(),
                    MOVEFILE_REPLACE_EXISTING);
    }
    std::map<std::string, std::string> values;
    const double start = Now();
    while (Now() - start < seconds) {
        if (GetFileAttributesW(WideFromGbk(answer).c_str()) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(500);
    }
    const std::string text = ReadWhole(answer);
    DeleteFileW(WideFromGbk(request).c_str());
    if (text.empty()) {
        values["error"] = "no answer from the browser's side in " +
                          std::to_string(static_cast<int>(seconds)) +
                          " s (run by scripts/bench.sh, which starts it)";
        return values;
    }
    for (const std::string& line : gbk::Split(text, "\n")) {
        const size_t blank = line.find(' ');
        if (blank != std::string::npos) values[line.substr(0, blank)] = line.substr(blank + 1);
    }
    return values;
}

std::string Said(const std::map<std::string, std::string>& values, const char* name) {
    const auto found = values.find(name);
    return found == values.end() ? "?" : found->second;
}

double Number(const std::map<std::string, std::string>& values, const char* name) {
    const auto found = values.find(name);
    return found == values.end() ? -1 : std::atof(found->second.c_str());
}

// The farm page over 200 running VMs, one service at the defaults (a health round at most
// every 15 s, each thumbnail at most every 10 s) then one at 1 s intervals for the memory:
//  - the browser's first load (tiles drawn with their state, then every thumbnail);
//  - thumbnails per second over a window, each VM's longest wait, the service's CPU share;
//  - a health round of the service (its own log: start to the page's state holding it)
//    against `MEmuFarm --json health`, by turns, and the state document's size;
//  - private bytes after 5 minutes at 1 s intervals against after 1 minute.
// A process's private bytes read from the process list every half second: the least over a
// stretch is what it holds for good, whatever its workers had in flight at one reading.
class MemorySampler {
public:
    explicit MemorySampler(DWORD pid) : pid_(pid), thread_([this] { Run(); }) {}
    ~MemorySampler() {
        stop_ = true;
        thread_.join();
    }
    MemorySampler(const MemorySampler&) = delete;
    MemorySampler& operator=(const MemorySampler&) = delete;
    // The least over [from, to] (Now() seconds), and the most.
    std::pair<uint64_t, uint64_t> Range(double from, double to) const {
        std::lock_guard lock(mutex_);
        uint64_t least = UINT64_MAX;
        uint64_t most = 0;
        for (const auto& [at, bytes] : samples_)
            if (at >= from && at <= to) {
                least = std::min(least, bytes);
                most = std::max(most, bytes);
            }
        return {least == UINT64_MAX ? 0 : least, most};
    }

private:
    void Run() {
        while (!stop_) {
            const uint64_t bytes = ReadingOf(pid_).private_bytes;
            {
                std::lock_guard lock(mutex_);
                if (bytes) samples_.emplace_back(Now(), bytes);
            }
            Sleep(500);
        }
    }

    const DWORD pid_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::pair<double, uint64_t>> samples_;
    std::thread thread_;
};

void BenchPageMemory(const std::string& root);

// `memory_only`: the memory rows alone (section page-memory).
void BenchPage(bool memory_only) {
    const Winsock winsock;
    const std::string root = MakeTempFolder("bench-page");
    const std::string install_dir = InstallSimulatedEmulator(root, 200);
    auto adb_port = std::make_unique<TestAdbPort>();
    SetSimSwitches(root, "adb.exe * boot=0\r\n");
    BareDirectRun(BinDir(), "MEmuFarm.exe start 0-199 --wait --parallel 8");
    auto end_farm = [&] {
        adb_port->EndServer(root);
        SetSimSwitches(root, "");
        StopSimulatedVms(root);
    };
    if (!FarmIsWhole(install_dir, 200, "page")) return end_farm();
    if (memory_only) {
        BenchPageMemory(root);
        return end_farm();
    }
    constexpr double kThumbInterval = 10;  // the defaults'
    constexpr double kHealthInterval = 15;
    ServedFarm served = StartServe(root);
    if (!served.process) {
        Note("page: the server did not start");
        return end_farm();
    }

    // 1. The browser's first load on a service no page has opened yet (once the service has
    // its own first listing, as when an owner opens the page after starting it), then a second
    // page while the first one's tiles and thumbnails are held.
    Note("page: the service's own listing ended " + std::to_string(served.listing_s) +
         " s after its address was printed");
    const std::map<std::string, std::string> browser = AskBrowser(served.port, 420);
    if (browser.count("error")) {
        Note("page: the browser's first load was not measured: " + browser.at("error"));
    } else {
        AddRow({"page first load, 200 tiles", "s", Number(browser, "tiles_s"), 2.0,
                Number(browser, "tiles_s") / 2.0, 1.0, true});
        AddRow({"page first load, 200 verdicts", "s", Number(browser, "verdicts_s"), 2.0,
                Number(browser, "verdicts_s") / 2.0, -1, true});
        AddRow({"page first load, thumbnails", "s", Number(browser, "thumbs_s"), kThumbInterval,
                Number(browser, "thumbs_s") / kThumbInterval, 1.0, true});
        AddRow({"page second load, 200 tiles", "s", Number(browser, "warm_tiles_s"), 2.0,
                Number(browser, "warm_tiles_s") / 2.0, -1, true});
        AddRow({"page second load, thumbs", "s", Number(browser, "warm_thumbs_s"), kThumbInterval,
                Number(browser, "warm_thumbs_s") / kThumbInterval, -1, true});
        Note("page: the browser saw " + Said(browser, "tiles") + " tiles with their state, " +
             Said(browser, "verdicts") + " with their verdict and " + Said(browser, "thumbs") +
             " thumbnails loaded (first load); " + Said(browser, "warm_tiles") + " and " +
             Said(browser, "warm_thumbs") + " (second load)");
    }

    // 2. Thumbnails at the defaults: a window after the warm-up, the page kept open by a
    // poller every half second (the page itself asks every two).
    {
        PagePoller poller(served.port, 0.5);
        Sleep(static_cast<DWORD>(2 * kThumbInterval * 1000));
        constexpr double kWindow = 60;
        const double from = Now();
        const DWORD pid = GetProcessId(served.process.get());
        const double cpu_from = ListedCpuSeconds(pid);
        const double adb_from = ListedCpuSeconds("adb.exe");
        Sleep(static_cast<DWORD>(kWindow * 1000));
        const double to = Now();
        const double cpu = ListedCpuSeconds(pid) - cpu_from;
        const double adb_cpu = ListedCpuSeconds("adb.exe") - adb_from;
        const PagePoller::Steps steps = poller.Between(from, to);
        const double per_second = steps.captures / (to - from);
        AddRow({"page thumbnails per second", "/s", per_second, 200 / kThumbInterval,
                per_second / (200 / kThumbInterval), 0.95, false});
        AddRow({"page longest wait of a VM", "s", steps.widest_gap, 12.0, steps.widest_gap / 12.0,
                1.0, true});
        AddRow({"page: serve's CPU (1 core)", "%", 100 * cpu / (to - from), 100.0,
                cpu / (to - from), -1, true});
        char text[400];
        std::snprintf(text, sizeof text,
                      "page: %lld thumbnails of %d VMs in %.1f s; VM %d waited longest; serve used "
                      "%.1f s of CPU (%.0f%% of one core of the machine's %u), the simulated adb "
                      "server %.1f s (%.0f%%); %d state polls, %d failed",
                      steps.captures, steps.vms, to - from, steps.widest_vm, cpu,
                      100 * cpu / (to - from), std::thread::hardware_concurrency(), adb_cpu,
                      100 * adb_cpu / (to - from), poller.Polls(), poller.Failed());
        Note(text);

        // 3. A round of the service against a round of the console, by turns: the console's
        // once a round of the service's is logged, both while the thumbnails go on.
        constexpr int kTurns = 3;
        double ours = 0;
        double console = 0;
        int turns = 0;
        bool console_read = true;
        for (int i = 0; i < kTurns; ++i) {
            const size_t known = RoundsLogged(root).seconds.size();
            const double waited = Now();
            while (RoundsLogged(root).seconds.size() == known &&
                   Now() - waited < 3 * kHealthInterval)
                Sleep(100);
            const LoggedRounds rounds = RoundsLogged(root);
            if (rounds.seconds.size() == known) break;
            ours += rounds.seconds.back();
            const double start = Now();
            const std::string out = BareDirectRun(BinDir(), "MEmuFarm.exe --json health");
            console += Now() - start;
            console_read = console_read && out.find("\"vms\"") != std::string::npos;
            ++turns;
        }
        const LoggedRounds rounds = RoundsLogged(root);
        if (turns < kTurns)
            Note("page: only " + std::to_string(turns) + " of " + std::to_string(kTurns) +
                 " rounds of the service came (" + std::to_string(rounds.failed) + " failed)");
        if (!console_read) Note("page: a console health run gave no VMs");
        if (turns > 0)
            AddRow({"page state refresh vs health", "s", ours / turns, console / turns,
                    ours / console, 1.2, true});
        const double kib = 1024;
        AddRow({"page state document, 200 VMs", "KiB", poller.LargestDocument() / kib, 100000 / kib,
                poller.LargestDocument() / 100000.0, 1.0, true});
    }
    EndServe(served);
    BenchPageMemory(root);
    end_farm();
}

// Memory: a service at 1 s intervals (its rounds and captures as fast as they go), read after
// 1 minute, once every VM has its first thumbnail (the state whole: what the service holds for
// good is then held), and 4 minutes after that; beside each reading, the least of the half-
// second readings over the 30 s before it.
void BenchPageMemory(const std::string& root) {
    ServedFarm served = StartServe(root, " --health-interval 1 --thumb-interval 1");
    if (!served.process) return Note("page: the server at 1 s intervals did not start");
    {
        const DWORD pid = GetProcessId(served.process.get());
        PagePoller poller(served.port, 0.5);
        const MemorySampler memory(pid);
        const double start = Now();
        Sleep(60 * 1000);
        const ProcessReading minute = ReadingOf(pid);
        const size_t minute_rounds = RoundsLogged(root).seconds.size();
        const long long minute_captures = poller.Between(start, Now()).captures;
        while (poller.WithThumbnail() < 200 && Now() - start < 360) Sleep(500);
        const double whole_at = Now();
        const int with_thumbnail = poller.WithThumbnail();
        const ProcessReading whole = ReadingOf(pid);
        const size_t whole_rounds = RoundsLogged(root).seconds.size();
        const long long whole_captures = poller.Between(start, whole_at).captures;
        constexpr double kSoak = 240;
        Sleep(static_cast<DWORD>(kSoak * 1000));
        const ProcessReading last = ReadingOf(pid);
        const LoggedRounds rounds = RoundsLogged(root);
        const long long captures = poller.Between(start, Now()).captures;
        const double mib = 1024.0 * 1024.0;
        const auto ratio = [](const ProcessReading& high, const ProcessReading& low) {
            return static_cast<double>(high.private_bytes) /
                   static_cast<double>(std::max<uint64_t>(low.private_bytes, 1));
        };
        AddRow({"page private, end@1s / 1 min", "MiB", last.private_bytes / mib,
                minute.private_bytes / mib, ratio(last, minute), 1.1, true});
        AddRow({"page private, end / whole", "MiB", last.private_bytes / mib,
                whole.private_bytes / mib, ratio(last, whole), 1.1, true});
        // The least of the readings over the 30 s before each of the three.
        const double end = Now();
        const auto minute_range = memory.Range(start + 30, start + 60);
        const auto whole_range = memory.Range(whole_at - 30, whole_at);
        const auto end_range = memory.Range(end - 30, end);
        AddRow({"page private least, end/1 min", "MiB", end_range.first / mib,
                minute_range.first / mib,
                static_cast<double>(end_range.first) /
                    static_cast<double>(std::max<uint64_t>(minute_range.first, 1)),
                1.1, true});
        AddRow({"page private least, end/whole", "MiB", end_range.first / mib,
                whole_range.first / mib,
                static_cast<double>(end_range.first) /
                    static_cast<double>(std::max<uint64_t>(whole_range.first, 1)),
                1.1, true});
        char ranges[200];
        std::snprintf(ranges, sizeof ranges,
                      "page: private bytes over the 30 s before each reading: %.1f to %.1f MiB, "
                      "%.1f to %.1f MiB, %.1f to %.1f MiB",
                      minute_range.first / mib, minute_range.second / mib, whole_range.first / mib,
                      whole_range.second / mib, end_range.first / mib, end_range.second / mib);
        Note(ranges);
        char text[600];
        std::snprintf(
            text, sizeof text,
            "page: at 1 s intervals, %zu health rounds (%d failed) and %lld thumbnails in %.0f s; "
            "%zu and %lld after the first minute; %zu and %lld when %d VMs had a thumbnail, at "
            "%.0f s (30 minutes at the defaults make 120 rounds and up to 36000 thumbnails); "
            "handles %u, %u, %u",
            rounds.seconds.size(), rounds.failed, captures, Now() - start, minute_rounds,
            minute_captures, whole_rounds, whole_captures, with_thumbnail, whole_at - start,
            minute.handles, whole.handles, last.handles);
        Note(text);
    }
    EndServe(served);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "capture") == 0) {
        return CaptureChild(std::strcmp(argv[2], "ours") == 0);
    }
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    MakeCurrent(BinDir());
    // Sections named on the command line (runner, capture, listing, onekey, farm, sets,
    // health, adb, heal, serve, mcp, mcp-http, page, page-memory: the page's memory rows
    // alone); all by default. The listing section also
    // times `MEmuFarm list`.
    auto wanted = [&](const char* section) {
        if (argc < 2) return true;
        for (int i = 1; i < argc; ++i)
            if (std::strcmp(argv[i], section) == 0) return true;
        return false;
    };
    if (wanted("runner")) {
        std::printf("command runner...\n");
        std::fflush(stdout);
        BenchCommandRunner();
    }
    if (wanted("capture")) {
        std::printf("capture...\n");
        std::fflush(stdout);
        BenchCapture();
    }
    if (wanted("listing")) {
        std::printf("listing...\n");
        std::fflush(stdout);
        BenchListing(10, 20, -1, -1);
        BenchListing(50, 20, -1, -1);
        BenchListing(200, 10, 1.5, 1.2);
    }
    if (wanted("onekey")) {
        std::printf("one-key run...\n");
        std::fflush(stdout);
        BenchOneKeyRun();
    }
    if (wanted("farm")) {
        std::printf("MEmuFarm clone...\n");
        std::fflush(stdout);
        BenchFarmClone();
    }
    if (wanted("health")) {
        std::printf("farm health...\n");
        std::fflush(stdout);
        BenchHealth();
    }
    if (wanted("adb")) {
        std::printf("the adb server...\n");
        std::fflush(stdout);
        BenchAdbServer();
    }
    if (wanted("sets")) {
        std::printf("sets of VMs...\n");
        std::fflush(stdout);
        BenchSets();
    }
    if (wanted("mcp")) {
        std::printf("MEmuFarm mcp...\n");
        std::fflush(stdout);
        BenchMcp();
    }
    if (wanted("heal")) {
        std::printf("healing watch...\n");
        std::fflush(stdout);
        BenchTimeToHeal();
        BenchHealOverhead();
    }
    if (wanted("serve")) {
        std::printf("the web service...\n");
        std::fflush(stdout);
        BenchServe();
    }
    if (wanted("mcp-http")) {
        std::printf("MCP over the web service...\n");
        std::fflush(stdout);
        BenchMcpHttp();
    }
    if (wanted("page") || wanted("page-memory")) {
        std::printf("the farm page...\n");
        std::fflush(stdout);
        BenchPage(!wanted("page"));
    }
    PrintTable();
    return g_farm_broken ? 1 : 0;
}
