// Side-by-side benchmarks of the program's command runner, control module listing and one-key
// run against bare Win32 equivalents, measured in one run and printed as ratios:
//   name | ours | baseline | ratio | target
// Started by scripts/bench.sh under 64-bit Wine on a virtual display (the simulated VM
// processes own windows). `memu_bench capture ours|bare` is the child mode used for the
// capture measurement, so that each capture's peak working set is its own process's.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bench/bare_run_win.h"
#include "cloning/clone_commands.h"
#include "cloning/one_key_run.h"
#include "control/control_factory_win.h"
#include "install/discovery_win.h"
#include "process/command_runner_win.h"
#include "process/waits_win.h"
#include "support/sim_install.h"
#include "support/win_test_support.h"
#include "win/wide_text.h"

namespace {

constexpr long long kCaptureBytes = 64LL * 1024 * 1024;

double Now() {
    static const double ticks_per_second = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / ticks_per_second;
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

int CountOccurrences(const std::string& text, const std::string& word) {
    int count = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        ++count;
    }
    return count;
}

// "MEmuFarm.exe <arguments>" as a script would start it (through cmd.exe, like the bare side).
std::string FarmLine(const std::string& arguments) {
    std::string line(1, '"');
    line += BinDir();
    line += "MEmuFarm.exe\" ";
    line += arguments;
    return line;
}

// A script's view of the listing: `MEmuFarm list` against the bare `memuc listvms`, both
// started the same way, with the VMs the listing section started.
void BenchFarmList(const std::string& install_dir, int running, int rounds, double target) {
    double ours = 0;
    double bare = 0;
    int listed_running = 0;
    for (int i = 0; i < rounds; ++i) {
        MakeCurrent(BinDir());
        double start = Now();
        const std::string table = BareRun(FarmLine("list"));
        ours += Now() - start;
        listed_running = CountOccurrences(table, " yes ");
        MakeCurrent(install_dir);
        start = Now();
        BareRun("memuc.exe memuc listvms");
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
    std::string CloneCountText() override { return "100"; }
    std::optional<std::string> RunCommand(const std::string& line) override {
        return ::RunCommand(line);
    }
    void AppendLog(const std::string& text) override { log += text; }
    void PumpPendingMessages() override { ::PumpPendingMessages(); }
    bool StopRequested() override { return false; }

    std::string log;
};

// The run's 101 lines one by one on a fresh installation, each through `run`; how many clones
// succeeded, and the seconds it took.
template <typename RunFn>
std::pair<int, double> RunCloneLinesOneByOne(const char* tag, int clones, RunFn run) {
    const std::string install_dir = InstallSimulatedEmulator(MakeTempFolder(tag), 1);
    MakeCurrent(ToolsDirectoryFor(install_dir));
    int ok = 0;
    const double start = Now();
    run(SnapshotCommand("MEmu"));
    for (int i = 1; i <= clones; ++i) {
        if (run(CloneCommand("MEmu", CloneNumber(i))).find("successfully") != std::string::npos)
            ++ok;
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
        [](const std::string& line) { return RunCommand(line); });
}

// `MEmuFarm clone --count 100` against the 101 same lines run one by one.
void BenchFarmClone() {
    BenchCloneRounds(
        "MEmuFarm clone, 100 clones", "bench-farm", 1.1,
        [](const std::string& install_dir) {
            MakeCurrent(BinDir());
            const std::string log = BareRun(
                FarmLine("--json --install-dir " + install_dir + " clone --master 0 --count 100"));
            // One judged step per command in the JSON; the snapshot's is the first.
            return CountOccurrences(log, "\"ok\":true,\"output\"") - 1;
        },
        [](const std::string& line) { return BareRun(line); });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "capture") == 0) {
        return CaptureChild(std::strcmp(argv[2], "ours") == 0);
    }
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    MakeCurrent(BinDir());
    // Sections named on the command line (runner, capture, listing, onekey, farm); all by
    // default. The listing section also times `MEmuFarm list`.
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
    PrintTable();
    return 0;
}
