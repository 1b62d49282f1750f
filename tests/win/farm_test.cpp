// MEmuFarm.exe end to end against the simulated emulator: what it prints, its exit codes, and
// the command lines the tools received (their journal).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>

#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "control/command_line_args.h"
#include "install/manager_console.h"
#include "support/farm_runner.h"
#include "support/sim_fixture.h"
#include "support/sim_install.h"
#include "support/test_adb_port.h"
#include "support/win_test_support.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string Utf8(const std::string& gbk) {
    return Utf8FromWide(WideFromGbk(gbk));
}

class FarmTest : public SimulatedFarmTest {
protected:
    FarmTest() : SimulatedFarmTest("farm", 3) {}
    std::string LastJournalLine() {
        const std::vector<std::string> lines = SimJournalLines(root_);
        return lines.empty() ? std::string() : lines.back();
    }
    std::string Config(int index, const std::string& key) {
        for (const sim::Vm& vm : SimVms(root_))
            for (const auto& [k, v] : vm.config)
                if (vm.index == index && k == key) return v;
        return "<none>";
    }
    std::string Typed() {
        std::string text;
        sim::ReadFileBytes(root_ + sim::kTypedFile, &text);
        return text;
    }
};

// A script's text is its own whatever it looks like: after "--" it is the argument, alone in
// an argument's place it is refused (nothing runs, never help with exit 0); blanks around it
// arrive; a blank one is never replaced by a default; everything after adb's SET is adb's.
TEST_F(FarmTest, ATextThatLooksLikeAnOptionIsTheScriptsText) {
    SetSimSwitches(root_, "adb.exe * boot=0\r\n");  // the server serves a booted device only
    ASSERT_EQ(RunFarm({"start", "1", "--wait"}).code, 0u);
    ClearSimJournal(root_);

    EXPECT_EQ(RunFarm({"text", "1", "--", "-h"}).code, 0u);
    EXPECT_EQ(Typed(), "1\t-h\r\n");

    ClearSimJournal(root_);
    for (const char* word : {"-h", "--help", "--version", "--json"}) {
        const FarmResult refused = RunFarm({"--json", "text", "1", word});
        EXPECT_EQ(refused.code, 2u) << word;
        EXPECT_TRUE(Contains(refused.err, "put -- before it")) << refused.err;
        EXPECT_EQ(refused.out.rfind(R"({"ok":false,"error":{"exit_code":2,)", 0), 0u)
            << refused.out;
    }
    const FarmResult blank_type = RunFarm({"create", "   "});
    EXPECT_EQ(blank_type.code, 2u);
    EXPECT_TRUE(Contains(blank_type.err, "TYPE is blank")) << blank_type.err;
    EXPECT_TRUE(SimJournalLines(root_).empty());

    EXPECT_EQ(RunFarm({"sendkey", "1", " lead"}).code, 0u);
    EXPECT_EQ(LastJournalLine(), "memuc.exe memuc sendkey -i 1 \" lead\"");

    const FarmResult adb = RunFarm({"adb", "1", "--help"});
    EXPECT_FALSE(Contains(adb.out, "Usage: MEmuFarm")) << adb.out;
    EXPECT_EQ(LastJournalLine(), "adb.exe -s 127.0.0.1:21513 --help");
}

// Run under code page 1252 and, as farm_test_cp936, under 936: the title reaches memuc as the
// same characters either way, and comes back from the listing as UTF-8 JSON.
TEST_F(FarmTest, ChineseTitleReachesMemucUnchanged) {
    ASSERT_EQ(RunFarm({"start", "2", "--wait"}).code, 0u);
    const uint32_t pid = SimVms(root_).at(2).pid;
    ASSERT_NE(pid, 0u);

    ASSERT_EQ(RunFarm({"rename", "2", "逍遥 二号"}).code, 0u);
    EXPECT_EQ(LastJournalLine(), "memuc.exe memuc -i 2 rename \"逍遥 二号\"");
    EXPECT_EQ(SimVms(root_).at(2).title, "逍遥 二号");

    const FarmResult json = RunFarm({"--json", "list"});
    EXPECT_EQ(json.code, 0u) << json.err;
    EXPECT_TRUE(
        Contains(json.out, R"({"index":2,"title":")" + Utf8("逍遥 二号") + R"(","window":)"))
        << json.out;
    EXPECT_TRUE(Contains(json.out, R"("started":true,"pid":)" + std::to_string(pid) +
                                       R"(,"headless_pid":)" + std::to_string(pid) + "}"))
        << json.out;

    const FarmResult text = RunFarm({"list"});
    EXPECT_EQ(text.code, 0u);
    EXPECT_EQ(text.out.rfind("index  title", 0), 0u) << text.out;
    EXPECT_TRUE(Contains(text.out, "yes      " + std::to_string(pid))) << text.out;
}

// Each text is one argument of the tool, exactly; no shell reads the line, so nothing in a text
// starts anything else (the journal holds only the tool's own line).
TEST_F(FarmTest, TextsReachTheToolsAsOneArgumentEach) {
    SetSimSwitches(root_, "adb.exe * boot=0\r\n");  // the server serves a booted device only
    ASSERT_EQ(RunFarm({"start", "1", "--wait"}).code, 0u);
    ClearSimJournal(root_);

    const std::string text = "a b&c|d%PATH%!x'y\"z";
    const FarmResult typed = RunFarm({"text", "1", text});
    EXPECT_EQ(typed.code, 0u) << typed.err;
    // The device line goes to the adb server (started once, as none ran); no adb.exe asks.
    const std::vector<std::string> journal = SimJournalLines(root_);
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "adb.exe start-server"), 1);
    EXPECT_EQ(journal.back(), "adb-server shell:input text 'a%sb&c|d%PATH%!x'\\''y\"z'");
    for (const std::string& line : journal) EXPECT_NE(line.rfind("adb.exe -s", 0), 0u) << line;
    EXPECT_EQ(Typed(), "1\t" + text + "\r\n");

    EXPECT_EQ(RunFarm({"setconfig", "1", "cpus", "4 -i 3"}).code, 0u);
    EXPECT_EQ(LastJournalLine(), "memuc.exe setconfig -i 1 cpus \"4 -i 3\"");
    EXPECT_EQ(Config(1, "cpus"), "4 -i 3");
    EXPECT_EQ(Config(2, "cpus"), "<none>");

    // The emulator's own input types what adb's cannot; adb's refuses it before anything runs.
    ClearSimJournal(root_);
    EXPECT_EQ(RunFarm({"text", "1", "你好"}).code, 2u);
    EXPECT_TRUE(SimJournalLines(root_).empty());
    EXPECT_EQ(RunFarm({"input", "1", "你好 \"x\""}).code, 0u);
    EXPECT_EQ(LastJournalLine(), "memuc.exe memuc input -i 1 \"你好 \\\"x\\\"\"");

    // A text that starts with a slash is a text, not a Windows-style option.
    EXPECT_EQ(RunFarm({"exec", "1", "/system/bin/ls /sdcard"}).code, 0u);
    EXPECT_EQ(LastJournalLine(), "memuc.exe memuc -i 1 execcmd \"/system/bin/ls /sdcard\"");
}

TEST_F(FarmTest, FailuresAreNeverReportedAsSuccess) {
    // An ERROR reply, for a command without a result of its own.
    const FarmResult renamed = RunFarm({"--json", "rename", "99", "x"});
    EXPECT_EQ(renamed.code, 1u);
    EXPECT_TRUE(Contains(
        renamed.out, R"({"ok":false,"verdict":"failed","command":"memuc.exe memuc -i 99 rename)"))
        << renamed.out;

    // adb on a stopped VM.
    EXPECT_EQ(RunFarm({"key", "1", "3"}).code, 1u);

    // (adb.exe missing as well as the server: AdbServerTest.NeitherServerNorAdbFailsEveryStep.)

    // A --timeout that expires says so.
    SetSimSwitches(root_, "memuc.exe start hang 2\r\n");
    const FarmResult timed = RunFarm({"--json", "start", "2", "--wait", "--timeout", "1500"});
    EXPECT_EQ(timed.code, 1u);
    EXPECT_TRUE(Contains(timed.out, R"("timed_out":true)")) << timed.out;
    EXPECT_TRUE(Contains(timed.out, "did not answer within the time-out")) << timed.out;
}

TEST_F(FarmTest, EachBatchClonesFromTheSnapshotItTook) {
    const FarmResult first = RunFarm({"--json", "clone", "--master", "0", "--count", "2"});
    ASSERT_EQ(first.code, 0u) << first.out;
    // The master changes, and a second batch numbers on from the highest VM.
    ASSERT_EQ(RunFarm({"setconfig", "0", "fps", "30"}).code, 0u);
    const FarmResult second =
        RunFarm({"--json", "clone", "--master", "0", "--count", "2", "--first", "next"});
    ASSERT_EQ(second.code, 0u) << second.out;

    const std::vector<sim::Vm> vms = SimVms(root_);
    const sim::Vm& master = vms.at(0);
    ASSERT_EQ(master.snapshots.size(), 2u);
    EXPECT_EQ(master.snapshots[0].name, master.snapshots[1].name);
    std::vector<std::string> sources;
    for (const sim::Vm& vm : vms)
        if (vm.index >= 101) sources.push_back(std::to_string(vm.index) + " " + vm.from);
    const std::string& uuid1 = master.snapshots[0].uuid;
    const std::string& uuid2 = master.snapshots[1].uuid;
    EXPECT_EQ(sources, (std::vector<std::string>{"101 " + uuid1, "102 " + uuid1, "103 " + uuid2,
                                                 "104 " + uuid2}));
    EXPECT_TRUE(Contains(second.out, "\"first\":103")) << second.out;
    EXPECT_TRUE(Contains(SimJournal(root_), "--name=\"MEmu_103\" --register --snapshot=\"" + uuid2 +
                                                "\" --options=Link"));
}

TEST_F(FarmTest, AFailedSnapshotRegistersNoClone) {
    SetSimSwitches(root_, "MEmuManage.exe snapshot fail\r\n");
    const FarmResult failed = RunFarm({"clone", "--master", "0", "--count", "3"});
    EXPECT_EQ(failed.code, 1u);
    EXPECT_EQ(SimJournalLines(root_).size(), 2u) << SimJournal(root_);  // listing, snapshot
    EXPECT_EQ(SimVms(root_).size(), 3u);
    EXPECT_TRUE(Contains(failed.out, "0 of 3 clones registered")) << failed.out;
}

TEST_F(FarmTest, CloneRefusesTheNumberOfAnExistingVm) {
    ASSERT_FALSE(InstallSimulatedEmulator(root_, 4).empty());  // VMs 0 to 3
    const FarmResult refused =
        RunFarm({"--json", "clone", "--master", "0", "--count", "3", "--first", "1"});
    EXPECT_EQ(refused.code, 2u);
    EXPECT_TRUE(Contains(refused.out, "clone number 1 is VM 1 ('MEmu_1'), which exists"))
        << refused.out;
    // The listing ran, and nothing after it.
    EXPECT_EQ(SimJournalLines(root_), std::vector<std::string>{"memuc.exe memuc listvms"});
    EXPECT_EQ(SimVms(root_).size(), 4u);
}

// A clone above the highest adb index (4403) is registered, and said to have no adb port.
TEST_F(FarmTest, ACloneWithoutAnAdbPortSaysSo) {
    const FarmResult planned =
        RunFarm({"clone", "--master", "0", "--count", "2", "--first", "4403", "--dry-run"});
    EXPECT_EQ(planned.code, 0u) << planned.out << planned.err;
    EXPECT_TRUE(Contains(planned.out, "\nVM 4404 has no adb port")) << planned.out;
    EXPECT_FALSE(Contains(planned.out, "VM 4403 has")) << planned.out;

    const FarmResult cloned =
        RunFarm({"--json", "clone", "--master", "0", "--count", "1", "--first", "4404"});
    EXPECT_EQ(cloned.code, 0u) << cloned.out << cloned.err;
    const nlohmann::json document = nlohmann::json::parse(cloned.out, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << cloned.out;
    EXPECT_EQ(document.value("registered", 0), 1);
    ASSERT_EQ(document.value("notes", std::vector<std::string>{}).size(), 1u) << cloned.out;
    EXPECT_EQ(document["notes"][0].get<std::string>().rfind("VM 4404 has no adb port", 0), 0u);
    EXPECT_EQ(SimVms(root_).size(), 4u);
}

TEST_F(FarmTest, EachRunModeOfTheControlVerbs) {
    // Captured: the result phrase decides.
    EXPECT_EQ(RunFarm({"remove", "2"}).code, 0u);
    EXPECT_EQ(LastJournalLine(), "memuc.exe memuc remove -i 2");
    EXPECT_EQ(RunFarm({"remove", "2"}).code, 1u);

    // Detached: not waited for, nothing captured.
    SetSimSwitches(root_, "memuc.exe stop delay=3000\r\n");
    const FarmResult detached = RunFarm({"stop", "1"});
    EXPECT_EQ(detached.code, 0u);
    EXPECT_LT(detached.milliseconds, 2500u);
    EXPECT_TRUE(Contains(detached.out, "memuc.exe memuc stop -i 1"));
}

TEST_F(FarmTest, MissingEmulatorAndPassedDeadline) {
    const std::string empty = MakeTempFolder("no-emu");
    EXPECT_EQ(RunFarm({"--install-dir", empty, "list"}).code, 3u);
    DeleteInstallLocationValue();
    const FarmResult lost = RunFarm({"--json", "list"});
    EXPECT_EQ(lost.code, 3u);
    EXPECT_TRUE(Contains(lost.out, R"({"ok":false,"error":{"exit_code":3,)")) << lost.out;

    // The hung tool is left running; the program ends soon after the deadline.
    SetSimSwitches(root_, "memuc.exe listvms hang\r\n");
    const FarmResult hung =
        RunFarm({"--json", "--install-dir", root_ + "MEmu", "--deadline", "2", "list"}, 20000);
    EXPECT_EQ(hung.code, 4u);
    EXPECT_LT(hung.milliseconds, 8000u);
    EXPECT_TRUE(Contains(hung.out, R"("exit_code":4)")) << hung.out;

    // Usage errors print one document too.
    const FarmResult usage = RunFarm({"--json", "start", "x"});
    EXPECT_EQ(usage.code, 2u);
    EXPECT_EQ(usage.out.rfind(R"({"ok":false,"error":{"exit_code":2,"message":"SET 'x')", 0), 0u)
        << usage.out;
}

// A caller reading MEmuFarm's output through pipes sees both end soon after the deadline: a
// tool MEmuFarm leaves running, waited for or started detached, holds no handle of the caller's.
TEST_F(FarmTest, AToolLeftRunningHoldsNoneOfTheCallersPipes) {
    const struct {
        const char* name;
        std::vector<std::string> args;
        DWORD code;
    } rows[] = {
        {"waited for", {"--json", "--deadline", "2", "start", "1", "--wait"}, 4},
        {"detached", {"--json", "--deadline", "2", "start", "1"}, 0},
    };
    SetSimSwitches(root_, "memuc.exe start hang\r\n");
    for (const auto& row : rows) {
        const FarmResult piped = RunFarmPiped(row.args, 30000);
        EXPECT_EQ(piped.code, row.code) << row.name << piped.out << piped.err;
        EXPECT_LT(piped.milliseconds, 5000u) << row.name;
        EXPECT_TRUE(Contains(piped.out, R"("command":"memuc.exe memuc start -i 1")"))
            << row.name << piped.out;
    }
    // Both starts reached memuc, which hangs (a detached start may get there after MEmuFarm's
    // end).
    for (int waited_ms = 0; SimJournalLines(root_).size() < 2 && waited_ms < 10000; waited_ms += 50)
        Sleep(50);
    EXPECT_EQ(SimJournalLines(root_), std::vector<std::string>(2, "memuc.exe memuc start -i 1"));
}

int ProcessCount(const wchar_t* exe) {
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry))
        count += _wcsicmp(entry.szExeFile, exe) == 0;
    return count;
}

// Console hosts alive now: each console, hidden or not, is one.
int ConsoleHosts() {
    return ProcessCount(L"conhost.exe");
}

// MEmuFarm on a console of its own that shows its output, as from a shortcut; ended at the
// limit.
DWORD RunFarmOnItsOwnConsole(const std::vector<std::string>& args, DWORD limit_ms) {
    std::string line = "MEmuFarm.exe";
    for (const std::string& arg : args) {
        line += ' ';
        line += cmdline::QuoteArgument(arg);
    }
    std::wstring wide = WideFromGbk(line);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info = {};
    const std::wstring exe = WideFromGbk(BinDir() + "MEmuFarm.exe");
    if (!CreateProcessW(exe.c_str(), wide.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE,
                        nullptr, nullptr, &startup, &info))
        return 9999;
    UniqueHandle process(info.hProcess), thread(info.hThread);
    DWORD code = 9999;
    if (WaitForSingleObject(process.get(), limit_ms) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.get(), &code);
    } else {
        TerminateProcess(process.get(), 9999);
    }
    return code;
}

// The tools of a run whose output goes to a caller's pipes share one hidden console made for
// the run, and the program that made it is gone once the tools run; when MEmuFarm's own
// console shows its output, each tool gets a hidden console of its own instead.
TEST_F(FarmTest, TheToolsOfARunShareOneConsoleUnlessOursShowsTheOutput) {
    SetSimSwitches(root_, "memuc.exe getconfig delay=3000\r\n");
    const std::vector<std::string> args = {"getconfig", "0-2", "cpus", "--parallel", "3"};
    const struct {
        const char* name;
        bool piped;
        int least_more, most_more;  // console hosts beside those before, while the tools run
    } rows[] = {
        {"through pipes", true, 1, 1},
        {"on a console of its own", false, 3, 1000},
    };
    for (const auto& row : rows) {
        ClearSimJournal(root_);
        Sleep(500);  // the last row's consoles go
        const int before = ConsoleHosts();
        std::atomic<bool> done{false};
        std::atomic<int> most{-1};
        std::atomic<int> keepers{0};
        std::thread watch([&] {
            while (!done) {
                if (SimJournalLines(root_).size() >= 3) {
                    Sleep(500);  // every tool is in its delay
                    most = ConsoleHosts();
                    keepers = ProcessCount(L"MEmuFarm.exe");
                    return;
                }
                Sleep(20);
            }
        });
        DWORD code = 0;
        if (row.piped) {
            code = RunFarmPiped(args, 30000).code;
        } else {
            code = RunFarmOnItsOwnConsole(args, 30000);
        }
        done = true;
        watch.join();
        EXPECT_EQ(code, 0u) << row.name;
        ASSERT_GE(most, 0) << row.name << ": the tools never ran";
        EXPECT_GE(most - before, row.least_more) << row.name;
        EXPECT_LE(most - before, row.most_more) << row.name;
        EXPECT_EQ(keepers, 1) << row.name << ": MEmuFarm alone, no keeper left";
    }
}

// --- Over a set of VMs ----------------------------------------------------------------------

// The VM a call names: memuc's -i, or adb's port; -1 for none.
int VmOfCall(const std::string& line) {
    const size_t i = line.find(" -i ");
    if (i != std::string::npos) return std::atoi(line.c_str() + i + 4);
    const size_t port = line.find("127.0.0.1:");
    if (port != std::string::npos) return (std::atoi(line.c_str() + port + 10) - 21503) / 10;
    return -1;
}

// The most VMs worked on at once: each VM's work lasts from its first call to the end of its
// last one.
int MostVmsAtOnce(const std::vector<SimCall>& calls) {
    std::map<int, std::pair<uint64_t, uint64_t>> spans;
    for (const SimCall& call : calls) {
        const int vm = VmOfCall(call.line);
        if (vm < 0) continue;
        auto [it, added] = spans.try_emplace(vm, call.begin_ms, call.end_ms);
        if (!added) {
            it->second.first = std::min(it->second.first, call.begin_ms);
            it->second.second = std::max(it->second.second, call.end_ms);
        }
    }
    int most = 0;
    for (const auto& [vm, span] : spans) {
        int at_once = 0;
        for (const auto& [other, other_span] : spans)
            if (other_span.first <= span.first && span.first < other_span.second) ++at_once;
        most = std::max(most, at_once);
    }
    return most;
}

TEST_F(FarmTest, StartsASetAFewAtATimeAndWaitsForTheBoot) {
    ASSERT_FALSE(InstallSimulatedEmulator(root_, 7).empty());
    SetSimSwitches(root_, "adb.exe * boot=1500\r\n");
    const FarmResult started =
        RunFarm({"--json", "start", "1-6", "--parallel", "3", "--boot"}, 180000);
    EXPECT_EQ(started.code, 0u) << started.out << started.err;
    size_t booted = 0;
    for (size_t at = 0; (at = started.out.find(R"("booted":true)", at)) != std::string::npos; ++at)
        ++booted;
    EXPECT_EQ(booted, 6u) << started.out;
    for (const sim::Vm& vm : SimVms(root_)) EXPECT_EQ(vm.started, vm.index >= 1) << vm.index;
    const int most = MostVmsAtOnce(SimCalls(root_));
    EXPECT_LE(most, 3);
    EXPECT_GE(most, 2);  // they did run side by side
}

TEST_F(FarmTest, TheSetRunningActsOnExactlyTheRunningVms) {
    ASSERT_EQ(RunFarm({"start", "0,2", "--wait", "--parallel", "2"}).code, 0u);
    ClearSimJournal(root_);
    const FarmResult installed =
        RunFarm({"--json", "install", "running", "-p", "com.example.game", "--parallel", "8"});
    EXPECT_EQ(installed.code, 0u) << installed.out;
    std::vector<std::string> lines = SimJournalLines(root_);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines,
              (std::vector<std::string>{"memuc.exe memuc installapp -i 0 -p com.example.game",
                                        "memuc.exe memuc installapp -i 2 -p com.example.game",
                                        "memuc.exe memuc listvms"}));
    for (const sim::Vm& vm : SimVms(root_))
        EXPECT_EQ(vm.apps.size(), vm.index == 1 ? 0u : 1u) << vm.index;
}

TEST_F(FarmTest, AHungVmPassesItsDeadlineWhileTheOthersSucceed) {
    ASSERT_FALSE(InstallSimulatedEmulator(root_, 5).empty());
    SetSimSwitches(root_, "memuc.exe start hang 2\r\n");
    const FarmResult run =
        RunFarm({"--json", "--deadline", "3", "start", "1-4", "--wait", "--parallel", "4"}, 60000);
    EXPECT_EQ(run.code, 4u) << run.out;
    EXPECT_LT(run.milliseconds, 15000u);
    EXPECT_TRUE(Contains(
        run.out,
        R"({"index":2,"ok":false,"verdict":"deadline","command":"memuc.exe memuc start -i 2")"))
        << run.out;
    EXPECT_TRUE(Contains(run.out, R"("timed_out":true)")) << run.out;
    for (const sim::Vm& vm : SimVms(root_))
        EXPECT_EQ(vm.started, vm.index == 1 || vm.index == 3 || vm.index == 4) << vm.index;
}

TEST_F(FarmTest, ClonesGetTheirOwnDeviceIdentities) {
    const FarmResult cloned =
        RunFarm({"clone", "--master", "0", "--count", "3", "--randomize"}, 120000);
    ASSERT_EQ(cloned.code, 0u) << cloned.out;
    std::vector<std::string> randomized;
    for (const std::string& line : SimJournalLines(root_))
        if (Contains(line, "randomize")) randomized.push_back(line);
    EXPECT_EQ(randomized, (std::vector<std::string>{"memuc.exe memuc randomize -i 101",
                                                    "memuc.exe memuc randomize -i 102",
                                                    "memuc.exe memuc randomize -i 103"}));
    std::set<std::string> identities;
    for (const sim::Vm& vm : SimVms(root_))
        if (vm.index == 0 || vm.index >= 101) identities.insert(vm.identity);
    EXPECT_EQ(identities.size(), 4u);
}

TEST_F(FarmTest, TheEmulatorsFarmVerbsSendTheirLines) {
    ASSERT_EQ(RunFarm({"start", "1", "--wait"}).code, 0u);
    const std::string ova = MakeTempFolder("ova") + "vm 1.ova";
    ClearSimJournal(root_);
    const std::vector<std::vector<std::string>> commands = {{"randomize", "1"},
                                                            {"input", "1", "hi there"},
                                                            {"setgps", "1", "116.39", "39.9"},
                                                            {"rotate", "1"},
                                                            {"apps", "1"},
                                                            {"export", "1", ova},
                                                            {"import", ova}};
    for (const std::vector<std::string>& command : commands) {
        const FarmResult result = RunFarm(command);
        EXPECT_EQ(result.code, 0u) << command.front() << ": " << result.out << result.err;
    }
    EXPECT_EQ(
        SimJournalLines(root_),
        (std::vector<std::string>{
            "memuc.exe memuc randomize -i 1", "memuc.exe memuc input -i 1 \"hi there\"",
            "memuc.exe memuc setgps -i 1 116.39 39.9", "memuc.exe memuc rotate -i 1",
            "memuc.exe memuc getappinfolist -i 1", "memuc.exe memuc export -i 1 \"" + ova + "\"",
            "memuc.exe memuc import \"" + ova + "\""}));
    EXPECT_EQ(SimVms(root_).size(), 4u);  // the imported VM
}

// The manager console build is looked for beside the program's own file, never in the current
// directory; a file there that is not the build is refused and MEmuConsole.exe left as it was.
TEST_F(FarmTest, ConsoleBuildIsTakenFromBesideTheProgramOnly) {
    const std::string program_dir = MakeTempFolder("farm-program");
    const std::string current_dir = MakeTempFolder("farm-current");
    ASSERT_TRUE(CopyFileW(WideFromGbk(BinDir() + "MEmuFarm.exe").c_str(),
                          WideFromGbk(program_dir + "MEmuFarm.exe").c_str(), FALSE));
    // The JSON document carries the log line as UTF-8.
    auto message = [](const std::string& line) {
        return "\"message\":\"" + Utf8(line.substr(0, line.size() - 2)) + "\"";
    };
    const std::vector<std::string> clone = {"--json",  "clone", "--master",  "0",
                                            "--count", "1",     "--console", "7.2.2"};
    ASSERT_TRUE(sim::WriteFileBytes(current_dir + "MEmuConsole-7.2.2.exe", "not the build"));
    std::vector<std::string> dry = clone;
    dry.push_back("--dry-run");
    const FarmResult in_current = RunFarm(dry, 60000, program_dir, current_dir);
    EXPECT_TRUE(Contains(in_current.out, message(NotBundledLine(kConsoleBuild722))))
        << in_current.out;

    ASSERT_TRUE(sim::WriteFileBytes(program_dir + "MEmuConsole-7.2.2.exe", "not the build"));
    const std::string console = root_ + "MEmu\\MEmuConsole.exe";
    ASSERT_TRUE(sim::WriteFileBytes(console, "the old manager"));
    const FarmResult beside = RunFarm(clone, 60000, program_dir, current_dir);
    EXPECT_EQ(beside.code, 1u);
    EXPECT_TRUE(Contains(beside.out, message(SideFileRefusedLine(kConsoleBuild722)))) << beside.out;
    EXPECT_EQ(ReadWhole(console), "the old manager");
}

// --- The adb server ---------------------------------------------------------------------------

// MEmuFarm against the simulated adb server on the test's own port, with VMs 0 to 2 running and
// booted.
class AdbServerTest : public FarmTest {
protected:
    void SetUp() override {
        FarmTest::SetUp();
        SetSimSwitches(root_, "adb.exe * boot=0\r\n");
        ASSERT_EQ(RunFarm({"start", "0-2", "--wait", "--parallel", "3"}).code, 0u);
        ClearSimJournal(root_);
    }
    int Count(const std::string& line) {
        const std::vector<std::string> journal = SimJournalLines(root_);
        return static_cast<int>(std::count(journal.begin(), journal.end(), line));
    }
    bool NoAdbExeAskedADevice() {
        for (const std::string& line : SimJournalLines(root_))
            if (line.rfind("adb.exe -s", 0) == 0) return false;
        return true;
    }
    // What the simulated tools and server were asked, for a failure's message.
    std::string Asked() { return "\njournal:\n" + SimJournal(root_); }
};

TEST_F(AdbServerTest, TextIsTypedExactlyThroughTheServer) {
    const FarmResult typed = RunFarm({"--json", "text", "1", "a b&c|d'e"});
    EXPECT_EQ(typed.code, 0u) << typed.out << typed.err << Asked();
    EXPECT_TRUE(Contains(typed.out, R"("adb":"server")")) << typed.out;
    EXPECT_TRUE(Contains(
        typed.out,
        R"("command":"host:transport:127.0.0.1:21513 + shell:input text 'a%sb&c|d'\\''e'")"))
        << typed.out;
    EXPECT_EQ(Typed(), "1\ta b&c|d'e\r\n");
    EXPECT_TRUE(NoAdbExeAskedADevice());
}

TEST_F(AdbServerTest, ScreenshotWritesAPng) {
    const std::string file = root_ + "x.png";
    const FarmResult shot = RunFarm({"screenshot", "1", file});
    EXPECT_EQ(shot.code, 0u) << shot.out << shot.err << Asked();
    const std::string bytes = ReadWhole(file);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(Count("adb-server exec:screencap -p"), 1);
    EXPECT_TRUE(NoAdbExeAskedADevice());
}

// No server runs: the first request starts one, once, for the whole set, and it answers.
TEST_F(AdbServerTest, NoServerStartsOneOnceThenItAnswers) {
    const FarmResult tapped = RunFarm({"--json", "tap", "0-2", "10", "20", "--parallel", "3"});
    EXPECT_EQ(tapped.code, 0u) << tapped.out << tapped.err << Asked();
    EXPECT_EQ(Count("adb.exe start-server"), 1);
    EXPECT_EQ(Count("adb-server shell:input tap 10 20"), 3);
    EXPECT_TRUE(Contains(tapped.out, R"("adb":"server")")) << tapped.out;
    EXPECT_TRUE(NoAdbExeAskedADevice());
}

// A server that takes the connection and never answers: each VM's step ends at its own
// deadline, and the set goes on to the next VM.
TEST_F(AdbServerTest, AServerThatNeverAnswersEndsEachStepAtItsDeadline) {
    ASSERT_EQ(RunFarm({"tap", "0", "1", "1"}).code, 0u);  // the server runs
    SetSimSwitches(root_, "adb.exe * boot=0\r\nadb.exe server hang\r\n");
    const FarmResult hung =
        RunFarm({"--json", "--deadline", "1.5", "tap", "0-2", "10", "20", "--parallel", "1"});
    EXPECT_EQ(hung.code, 4u) << hung.out << hung.err;
    const nlohmann::json document = nlohmann::json::parse(hung.out, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << hung.out << hung.err << Asked();
    ASSERT_EQ(document.at("results").size(), 3u) << hung.out;
    for (const nlohmann::json& result : document.at("results")) {
        EXPECT_EQ(result.at("verdict"), "deadline") << result.dump();
        EXPECT_LT(result.at("seconds").get<double>(), 3.0) << result.dump();
    }
    EXPECT_LT(hung.milliseconds, 15000u);
}

// No server, and adb.exe start-server hangs: the deadline ends the step, not the start's own
// 10 s; the start is left running.
TEST_F(AdbServerTest, AHungStartServerEndsAtTheDeadline) {
    SetSimSwitches(root_, "adb.exe * boot=0\r\nadb.exe start-server hang\r\n");
    const FarmResult hung = RunFarm({"--json", "--deadline", "2", "text", "1", "hi"}, 20000);
    EXPECT_EQ(hung.code, 4u) << hung.out << hung.err << Asked();
    EXPECT_LT(hung.milliseconds, 5000u);
    EXPECT_TRUE(Contains(hung.out, R"("verdict":"deadline")")) << hung.out;
    EXPECT_TRUE(Contains(hung.out, "adb.exe start-server was running; it is left running"))
        << hung.out;
    EXPECT_EQ(Count("adb.exe start-server"), 1);
    EXPECT_TRUE(NoAdbExeAskedADevice());
    EXPECT_EQ(Typed(), "");
}

// Without the server, a FILE from before never passes for the screenshot: it is removed
// first, so a pull that writes nothing fails; a FILE that cannot be removed refuses the
// command before anything runs.
TEST_F(AdbServerTest, AScreenshotWithoutTheServerPassesOnlyWithTheFileItPulled) {
    const std::string file = root_ + "old.png";
    ASSERT_TRUE(sim::WriteFileBytes(file, "from before"));
    SetSimSwitches(root_,
                   "adb.exe * boot=0\r\nadb.exe start-server fail\r\nadb.exe pull missing\r\n");
    const FarmResult stale = RunFarm({"--json", "screenshot", "1", file});
    EXPECT_EQ(stale.code, 1u) << stale.out << stale.err << Asked();
    EXPECT_TRUE(Contains(stale.out, R"("adb":"process")")) << stale.out;
    EXPECT_TRUE(Contains(stale.err, "the screenshot was not saved to")) << stale.err;
    EXPECT_EQ(GetFileAttributesW(WideFromGbk(file).c_str()), INVALID_FILE_ATTRIBUTES);

    SetSimSwitches(root_, "adb.exe * boot=0\r\nadb.exe start-server fail\r\n");
    ASSERT_TRUE(sim::WriteFileBytes(file, "from before"));
    const FarmResult pulled = RunFarm({"screenshot", "1", file});
    EXPECT_EQ(pulled.code, 0u) << pulled.out << pulled.err << Asked();
    EXPECT_EQ(ReadWhole(file).substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));

    // Held open without delete sharing, the file cannot be removed.
    ClearSimJournal(root_);
    const UniqueFileHandle held(CreateFileW(WideFromGbk(file).c_str(), GENERIC_READ,
                                            FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    const FarmResult refused = RunFarm({"screenshot", "1", file});
    EXPECT_EQ(refused.code, 2u) << refused.out << refused.err;
    EXPECT_TRUE(Contains(refused.err, "is there from before and cannot be removed")) << refused.err;
    EXPECT_TRUE(SimJournalLines(root_).empty()) << Asked();
}

// Neither a server nor adb.exe: said once, and every step reported failed.
TEST_F(AdbServerTest, NeitherServerNorAdbFailsEveryStep) {
    const std::wstring adb = WideFromGbk(root_ + "MEmu\\adb.exe");
    const std::wstring away = WideFromGbk(root_ + "MEmu\\adb.away");
    ASSERT_TRUE(MoveFileW(adb.c_str(), away.c_str()));
    const FarmResult failed = RunFarm({"--json", "tap", "0-2", "10", "20", "--parallel", "3"});
    ASSERT_TRUE(MoveFileW(away.c_str(), adb.c_str()));
    EXPECT_EQ(failed.code, 1u) << failed.out;
    EXPECT_TRUE(
        Contains(failed.err, "could not be reached or started; asking adb.exe for each step"))
        << failed.err;
    EXPECT_TRUE(Contains(failed.out, R"("adb":"process")")) << failed.out;
    EXPECT_TRUE(Contains(failed.out, R"("counts":{"failed":3})")) << failed.out;
    EXPECT_TRUE(Contains(failed.out, "adb.exe could not be started from")) << failed.out;
}

}  // namespace
