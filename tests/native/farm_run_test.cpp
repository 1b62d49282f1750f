#include "farm/run/farm_run.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <initializer_list>
#include <map>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "cli/farm_args.h"
#include "cli/farm_output.h"
#include "fake_farm_run.h"
#include "fake_farm_system.h"
#include "farm/run/vm_jobs.h"
#include "row_name.h"

namespace {

struct VerbRow {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, ToolRun>> replies;
    int exit_code;
    std::string json;
};

// Rows print as their names in test listings.
void PrintTo(const VerbRow& row, std::ostream* out) {
    *out << row.name;
}

class FarmVerbTest : public testing::TestWithParam<VerbRow> {};

TEST_P(FarmVerbTest, ResultAndDocument) {
    const VerbRow& row = GetParam();
    Farm farm;
    farm.replies = row.replies;
    farm.system.processes.AddHeadless(77, "MEmuHeadless.exe --comment MEmu_1 --startvm x");
    farm.system.tools.hang_on = " hang";
    EXPECT_EQ(farm.Run(row.args), row.exit_code) << farm.console.err;
    EXPECT_EQ(farm.console.json, row.json + "\n");
    // The reason goes to standard error with --json too.
    EXPECT_EQ(farm.console.err.empty(), row.json.find(R"("error":)") == std::string::npos)
        << farm.console.err;
}

const ToolRun kNotStarted{RunEnd::kNotStarted, 0, "",
                          "memuc.exe could not be started from C:\\MEmu\\: File not found."};

INSTANTIATE_TEST_SUITE_P(
    Rows, FarmVerbTest,
    testing::Values(
        VerbRow{"list",
                {"--json", "list"},
                {{"listvms", Answer("0,MEmu,0,0,0\r\n1,MEmu_1,1234,1,5678\r\n")}},
                0,
                R"({"ok":true,"vms":[{"index":0,"title":"MEmu","window":0,"inner_window":0,)"
                R"("started":false,"pid":0,"headless_pid":0},{"index":1,"title":"MEmu_1",)"
                R"("window":1234,"inner_window":1235,"started":true,"pid":5678,)"
                R"("headless_pid":77}],"unreadable":[]})"},
        VerbRow{"list with an unreadable line",
                {"--json", "list"},
                {{"listvms", Answer("2,A,B,0,0,0\r\n3,broken\r\n")}},
                1,
                R"({"ok":false,"vms":[{"index":2,"title":"A,B","window":0,"inner_window":0,)"
                R"("started":false,"pid":0,"headless_pid":0}],"unreadable":["3,broken"],)"
                R"("error":{"exit_code":1,"message":"1 line of the listing could not be read"}})"},
        VerbRow{
            "clone dry run",
            {"--json", "clone", "--master", "0", "--count", "1", "--dry-run"},
            {{"listvms", Answer("0,MEmu,0,0,0\r\n")}},
            0,
            R"({"ok":true,"master":"MEmu","first":101,"count":1,"tools_dir":"C:\\MEmuHyperv\\",)"
            R"("dry_run":true,"commands":["MEmuManage.exe snapshot MEmu take \"SnapshotTest\"",)"
            R"("MEmuManage.exe clonevm MEmu --name=\"MEmu_101\" --register --snapshot=)"
            R"(\"<UUID of the snapshot taken>\" --options=Link --options=keepdisknames )"
            R"(--uuid={20200716-dddd-dddd-dddd-000000000101}"]})"},
        VerbRow{
            "clone dry run numbered below 100: the uuid's last group padded to 12 digits",
            {"--json", "clone", "--master", "0", "--count", "1", "--first", "7", "--dry-run"},
            {{"listvms", Answer("0,MEmu,0,0,0\r\n")}},
            0,
            R"({"ok":true,"master":"MEmu","first":7,"count":1,"tools_dir":"C:\\MEmuHyperv\\",)"
            R"("dry_run":true,"commands":["MEmuManage.exe snapshot MEmu take \"SnapshotTest\"",)"
            R"("MEmuManage.exe clonevm MEmu --name=\"MEmu_7\" --register --snapshot=)"
            R"(\"<UUID of the snapshot taken>\" --options=Link --options=keepdisknames )"
            R"(--uuid={20200716-dddd-dddd-dddd-000000000007}"]})"},
        VerbRow{"list cut short by its time-out shows none of what it printed",
                {"--json", "list"},
                {{"listvms", ToolRun{RunEnd::kTimedOut, 0, "0,MEmu,0,0,0\r\n", ""}}},
                1,
                R"({"ok":false,"vms":[],"unreadable":[],"output":"0,MEmu,0,0,0\r\n",)"
                R"("error":{"exit_code":1,"message":"memuc.exe did not answer within the )"
                R"(time-out; it is left running"}})"},
        VerbRow{"list with memuc missing",
                {"--json", "list"},
                {{"listvms", kNotStarted}},
                1,
                R"({"ok":false,"vms":[],"unreadable":[],"output":"","error":{"exit_code":1,)"
                R"("message":"memuc.exe could not be started from C:\\MEmu\\: File not found."}})"},
        VerbRow{"start waits",
                {"--json", "start", "3", "--wait", "--timeout", "500"},
                {{"start", Answer("SUCCESS: start vm finished.")}},
                0,
                R"({"ok":true,"verdict":"ok","command":"memuc.exe memuc start -i 3",)"
                R"("output":"SUCCESS: start vm finished."})"},
        VerbRow{
            "start times out",
            {"--json", "start", "3", "--wait", "--timeout", "500"},
            {{"start", ToolRun{RunEnd::kTimedOut, 0, "", ""}}},
            1,
            R"({"ok":false,"verdict":"timed_out","command":"memuc.exe memuc start -i 3","output":"",)"
            R"("timed_out":true,"error":{"exit_code":1,"message":"memuc.exe did not answer )"
            R"(within the time-out; it is left running"}})"},
        VerbRow{
            "stop detached",
            {"--json", "stop", "1"},
            {},
            0,
            R"({"ok":true,"verdict":"detached","command":"memuc.exe memuc stop -i 1","output":"","detached":true})"},
        VerbRow{
            "running: no",
            {"--json", "running", "1"},
            {{"isvmrunning", Answer("Not Running")}},
            1,
            R"({"ok":true,"verdict":"not_running","command":"memuc.exe memuc isvmrunning -i 1",)"
            R"("output":"Not Running","running":false})"},
        VerbRow{"running: no answer",
                {"--json", "running", "99"},
                {{"isvmrunning", Answer("ERROR: no VM with index 99", 1)}},
                1,
                R"({"ok":false,"verdict":"failed","command":"memuc.exe memuc isvmrunning -i 99",)"
                R"("output":"ERROR: no VM with index 99","error":{"exit_code":1,)"
                R"("message":"memuc.exe ended with exit code 1"}})"},
        VerbRow{"an ERROR reply fails a verb without a result",
                {"--json", "rename", "99", "x"},
                {{"rename", Answer("ERROR: no VM with index 99\r\n")}},
                1,
                R"({"ok":false,"verdict":"failed","command":"memuc.exe memuc -i 99 rename \"x\"",)"
                R"("output":"ERROR: no VM with index 99\r\n","error":{"exit_code":1,)"
                R"("message":"memuc.exe reported an error"}})"},
        VerbRow{
            "a tool that did not start",
            {"--json", "shake", "2"},
            {{"shake", kNotStarted}},
            1,
            R"({"ok":false,"verdict":"failed","command":"memuc.exe memuc shake -i 2","output":"",)"
            R"("error":{"exit_code":1,"message":"memuc.exe could not be started from )"
            R"(C:\\MEmu\\: File not found."}})"},
        VerbRow{
            "deadline",
            {"--json", "--deadline", "0.2", "getconfig", "1", "hang"},
            {},
            4,
            R"({"ok":false,"verdict":"deadline","command":"memuc.exe getconfig -i 1 hang","output":"partial",)"
            R"("timed_out":true,"error":{"exit_code":4,"message":"the deadline passed while )"
            R"(memuc.exe was running; it is left running"}})"},
        VerbRow{"a set of VMs",
                {"--json", "setconfig", "1-2", "cpus", "4 -i 3"},
                {{"-i 2", Answer("ERROR: no\r\n", 1)}, {"", Answer("SUCCESS\r\n")}},
                1,
                R"({"ok":false,"results":[{"index":1,"ok":true,"verdict":"ok",)"
                R"("command":"memuc.exe setconfig -i 1 cpus \"4 -i 3\"","output":"SUCCESS\r\n",)"
                R"("seconds":0.0,"timed_out":false},{"index":2,"ok":false,"verdict":"failed",)"
                R"("command":"memuc.exe setconfig -i 2 cpus \"4 -i 3\"","output":"ERROR: no\r\n",)"
                R"("seconds":0.0,"timed_out":false,"failure":"memuc.exe ended with exit code 1"}],)"
                R"("counts":{"ok":1,"failed":1},)"
                R"("error":{"exit_code":1,"message":"1 of 2 VMs failed"}})"},
        VerbRow{"a set with a VM that timed out",
                {"--json", "start", "1-2", "--wait", "--timeout", "500"},
                {{"-i 2", ToolRun{RunEnd::kTimedOut, 0, "", ""}},
                 {"", Answer("SUCCESS: start vm finished.")}},
                1,
                R"({"ok":false,"results":[{"index":1,"ok":true,"verdict":"ok",)"
                R"("command":"memuc.exe memuc start -i 1","output":"SUCCESS: start vm finished.",)"
                R"("seconds":0.0,"timed_out":false},{"index":2,"ok":false,"verdict":"timed_out",)"
                R"("command":"memuc.exe memuc start -i 2","output":"","seconds":0.0,)"
                R"("timed_out":true,"failure":"memuc.exe did not answer within the time-out; it )"
                R"(is left running"}],"counts":{"ok":1,"timed_out":1},)"
                R"("error":{"exit_code":1,"message":"1 of 2 VMs timed out"}})"},
        // Answered "not running" is ok, over a set as for one VM; the exit code says no.
        VerbRow{"running over a set answers like running of one VM",
                {"--json", "running", "1-2"},
                {{"-i 1", Answer("Running")}, {"-i 2", Answer("Not Running")}},
                1,
                R"({"ok":true,"results":[{"index":1,"ok":true,"verdict":"ok",)"
                R"("command":"memuc.exe memuc isvmrunning -i 1","output":"Running",)"
                R"("seconds":0.0,"timed_out":false,"running":true},{"index":2,"ok":true,)"
                R"("verdict":"not_running","command":"memuc.exe memuc isvmrunning -i 2",)"
                R"("output":"Not Running","seconds":0.0,"timed_out":false,"running":false}],)"
                R"("counts":{"ok":1,"not_running":1},)"
                R"("error":{"exit_code":1,"message":"1 of 2 VMs not running"}})"},
        VerbRow{"the set 'running' from the listing",
                {"--json", "shake", "running"},
                {{"listvms", Answer("0,MEmu,0,0,0\r\n1,MEmu_1,1234,1,5678\r\n")}},
                0,
                R"({"ok":true,"results":[{"index":1,"ok":true,"verdict":"ok","command":)"
                R"("memuc.exe memuc shake -i 1","output":"","seconds":0.0,"timed_out":false}],)"
                R"("counts":{"ok":1}})"},
        VerbRow{"an empty set",
                {"--json", "shake", "stopped"},
                {{"listvms", Answer("1,MEmu_1,1234,1,5678\r\n")}},
                2,
                R"({"ok":false,"error":{"exit_code":2,"message":"the set names no VM"}})"},
        VerbRow{"adb port beyond 65535",
                {"--json", "tap", "4404", "1", "2"},
                {},
                2,
                R"({"ok":false,"error":{"exit_code":2,"message":"VM 4404 has no adb port: )"
                R"(21503 + 10 x 4404 is beyond 65535"}})"},
        VerbRow{"a listed VM beyond the adb ports, in a set read from the listing",
                {"--json", "tap", "all", "1", "2"},
                {{"listvms", Answer("1,MEmu_1,1234,1,5678\r\n4404,MEmu_4404,2234,1,6678\r\n")}},
                2,
                R"({"ok":false,"error":{"exit_code":2,"message":"VM 4404 has no adb port: )"
                R"(21503 + 10 x 4404 is beyond 65535"}})"},
        VerbRow{"a text the device cannot type",
                {"--json", "text", "1", "a%sb"},
                {},
                2,
                R"({"ok":false,"error":{"exit_code":2,"message":"TEXT holds %s, which the )"
                R"(device's input text types as a blank"}})"},
        VerbRow{"not found",
                {"--json", "--install-dir", "D:\\Nowhere", "list"},
                {},
                3,
                R"({"ok":false,"error":{"exit_code":3,"message":"D:\\Nowhere holds no )"
                R"(memuc.exe"}})"}),
    RowName());

// The rows above read "seconds":0.0: the fake clock stands still while a tool answers.

// What each start was given: its program, folder, time-out, whether a deadline may end the
// wait, and whether it was waited for at all.
struct GivenRow {
    const char* name;
    std::vector<std::string> args;
    StartedLine first;  // the first start the command made
};

class RunOptionsTest : public testing::TestWithParam<GivenRow> {};

TEST_P(RunOptionsTest, EveryRunOptionReachesTheRunner) {
    const GivenRow& row = GetParam();
    Farm farm;
    farm.replies = {{"listvms", Answer("0,MEmu,0,0,0\r\n")},
                    {"start", Answer("SUCCESS: start vm finished.")},
                    {"getprop", Answer("1\r\n")}};
    farm.system.AddFile("D:\\E\\memuc.exe");
    farm.Run(row.args);
    const std::vector<StartedLine> started = farm.system.tools.Started();
    ASSERT_FALSE(started.empty());
    EXPECT_EQ(started[0].line, row.first.line);
    EXPECT_EQ(started[0].program, row.first.program);
    EXPECT_EQ(started[0].folder, row.first.folder);
    EXPECT_EQ(started[0].detached, row.first.detached);
    EXPECT_EQ(started[0].timeout_ms, row.first.timeout_ms);
    EXPECT_EQ(started[0].can_abandon, row.first.can_abandon);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RunOptionsTest,
    testing::Values(
        GivenRow{"start_waits_with_its_timeout",
                 {"start", "3", "--wait", "--timeout", "500"},
                 {"C:\\MEmu\\", "memuc.exe memuc start -i 3", "memuc.exe", false, 500, false}},
        GivenRow{"start_detached",
                 {"start", "3"},
                 {"C:\\MEmu\\", "memuc.exe memuc start -i 3", "memuc.exe", true, 0, false}},
        GivenRow{"deadline_may_end_the_wait",
                 {"--deadline", "5", "shake", "2"},
                 {"C:\\MEmu\\", "memuc.exe memuc shake -i 2", "memuc.exe", false, 0, true}},
        GivenRow{"install_dir_is_the_folder",
                 {"--install-dir", "D:\\E", "shake", "2"},
                 {"D:\\E\\", "memuc.exe memuc shake -i 2", "memuc.exe", false, 0, false}},
        GivenRow{"adb_is_its_own_program",
                 {"adb", "1", "shell", "ls"},
                 {"C:\\MEmu\\", "adb.exe -s 127.0.0.1:21513 shell ls", "adb.exe", false, 0, false}},
        GivenRow{"clone_runs_the_manager_from_the_tools_folder",
                 {"clone", "--master", "0", "--count", "1"},
                 {"C:\\MEmu\\", "memuc.exe memuc listvms", "memuc.exe", false, 0, false}}),
    RowName());

TEST(FarmRun, TheBootPollHasItsOwnTimeOut) {
    Farm farm;
    farm.replies = {{"start", Answer("SUCCESS: start vm finished.")}};
    farm.Run({"start", "2", "--boot", "--timeout", "700"});
    const std::vector<StartedLine> started = farm.system.tools.Started();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].timeout_ms, 700);  // memuc's start, as asked
    const std::vector<DeviceRequest> polls = farm.system.adb.Requests();
    ASSERT_FALSE(polls.empty());
    EXPECT_EQ(polls.back().service, "shell:getprop sys.boot_completed");
    EXPECT_DOUBLE_EQ(polls.back().seconds, 5.0);  // the boot poll's own
}

TEST(FarmRun, NoEmulatorFoundIsExitThreeAndRunsNothing) {
    Farm farm;
    farm.system.discovered = "";
    EXPECT_EQ(farm.Run({"--json", "list"}), 3);
    EXPECT_NE(farm.console.err.find("the emulator was not found"), std::string::npos)
        << farm.console.err;
    EXPECT_TRUE(farm.system.tools.Lines().empty());
}

// Over a set, --deadline bounds each VM's work from its own start: one VM after another, each
// within it, all finish although the whole run takes longer than the deadline.
TEST(FarmRun, OverASetTheDeadlineCountsFromEachVmsStart) {
    Farm farm;
    farm.system.tools.answer = [&farm](const std::string& line) {
        if (line.find("shake") != std::string::npos) farm.system.Sleep(0.3);
        return Answer("");
    };
    EXPECT_EQ(farm.Run({"--deadline", "0.5", "shake", "1-3", "--parallel", "1"}), 0)
        << farm.console.out << farm.console.err;
    EXPECT_EQ(farm.system.tools.Lines().size(), 3u);
}

// A step whose VM's deadline passed before it could start is given up, not failed unstarted:
// through the adb server, and by adb.exe when no server can be reached.
TEST(FarmRun, AStepAfterTheDeadlineIsGivenUpNotFailed) {
    for (const bool server : {true, false}) {
        Farm farm;
        farm.system.adb.listening = server;
        farm.system.tools.answer = [&farm](const std::string& line) {
            if (line.find(" start -i ") != std::string::npos) {
                farm.system.Sleep(0.6);
                return Answer("SUCCESS: start vm finished.");
            }
            return Answer("", line.find("start-server") != std::string::npos ? 1 : 0);
        };
        EXPECT_EQ(farm.Run({"--json", "--deadline", "0.5", "start", "2", "--boot"}), 4)
            << server << farm.console.json;
        EXPECT_NE(farm.console.json.find(R"("verdict":"deadline")"), std::string::npos)
            << server << farm.console.json;
        for (const std::string& line : farm.system.tools.Lines())
            EXPECT_EQ(line.find("getprop"), std::string::npos) << server << line;
    }
}

TEST(FarmRun, RunningOverASetSaysInTextWhatItsExitCodeSays) {
    Farm farm;
    farm.replies = {{"-i 1", Answer("Running")}, {"-i 2", Answer("Not Running")}};
    EXPECT_EQ(farm.Run({"running", "1-2"}), 1);
    EXPECT_NE(farm.console.out.find("2 VMs: 1 running, 1 not running, 0 failed.\n"),
              std::string::npos)
        << farm.console.out;
    EXPECT_NE(farm.console.out.find("2     not running"), std::string::npos) << farm.console.out;
    EXPECT_EQ(farm.console.err, "MEmuFarm: 1 of 2 VMs not running\n");
}

TEST(FarmRun, ALineWindowsCannotTakeIsRefusedBeforeAnythingRuns) {
    // memuc's exec line is 31 characters besides its text.
    const struct {
        const char* name;
        size_t text;
        bool runs;
    } rows[] = {
        {"the longest line Windows takes", 32766 - 31, true},
        {"one character more", 32766 - 31 + 1, false},
        {"far more", 33000, false},
    };
    for (const auto& row : rows) {
        Farm farm;
        EXPECT_EQ(farm.Run({"exec", "1", std::string(row.text, 'x')}), row.runs ? 0 : 2)
            << row.name << farm.console.err;
        EXPECT_EQ(farm.system.tools.Lines().size(), row.runs ? 1u : 0u) << row.name;
        const std::string refusal = "MEmuFarm: the command line would be " +
                                    std::to_string(row.text + 31) +
                                    " characters long; Windows takes at most 32766";
        EXPECT_EQ(farm.console.err.find(refusal) != std::string::npos, !row.runs)
            << row.name << farm.console.err;
    }
}

TEST(FarmRun, OnlyLocalPathsAreMadeFull) {
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::string> texts;
    } rows[] = {
        {"apk", {"install", "1", "a.apk"}, {"FULL:a.apk"}},
        {"package_not_a_path", {"install", "1", "-p", "com.a"}, {"com.a"}},
        {"export_file_after_index", {"export", "1", "x.ova"}, {"FULL:x.ova"}},
        {"screenshot", {"screenshot", "1", "s.png"}, {"FULL:s.png"}},
        {"device_text", {"exec", "1", "ls"}, {"ls"}},
        {"adb_args", {"adb", "1", "push", "a.txt"}, {"push", "a.txt"}},
    };
    const PathResolver full = [](const std::string& path) { return "FULL:" + path; };
    for (const auto& row : rows) {
        std::vector<std::string> args = {"--install-dir", "i"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const FarmRequest request = ParseFarmArgs(args, "1", full).request;
        EXPECT_EQ(request.texts, row.texts) << row.name;
        EXPECT_EQ(request.install_dir, "FULL:i") << row.name;
    }
    EXPECT_EQ(ParseFarmArgs({"health", "--prom", "m.prom"}, "1", full).request.prom_file,
              "FULL:m.prom");
}

TEST(FarmRun, ScreenshotWithoutTheServerSucceedsOnlyWhenTheFileIsThere) {
    Farm farm;
    farm.system.adb.listening = false;
    farm.replies = {{"start-server", Answer("cannot bind", 1)}};
    EXPECT_EQ(farm.Run({"screenshot", "1", "C:\\shots\\s.png"}), 1);
    EXPECT_NE(farm.console.err.find("not saved to C:\\shots\\s.png"), std::string::npos);
    EXPECT_EQ(farm.system.tools.Lines(),
              (std::vector<std::string>{
                  "adb.exe start-server",
                  "adb.exe -s 127.0.0.1:21513 shell /system/bin/screencap -p "
                  "/sdcard/screenshot1234.png",
                  "adb.exe -s 127.0.0.1:21513 pull /sdcard/screenshot1234.png C:\\shots\\s.png",
                  "adb.exe -s 127.0.0.1:21513 shell rm /sdcard/screenshot1234.png"}));

    // Each VM's pull writes its own file.
    Farm many;
    many.system.adb.listening = false;
    many.system.tools.answer = [&many](const std::string& line) {
        if (line == "adb.exe start-server") return Answer("cannot bind", 1);
        if (line.find(" pull ") != std::string::npos)
            many.system.AddFile(line.substr(line.rfind(' ') + 1));
        return Answer("");
    };
    EXPECT_EQ(many.Run({"screenshot", "1-2", "C:\\s.png"}), 0) << many.console.err;
    EXPECT_TRUE(many.system.FileExists("C:\\s-1.png"));
    EXPECT_TRUE(many.system.FileExists("C:\\s-2.png"));
    // What adb.exe said at its steps is the result's output.
    Farm said;
    said.system.adb.listening = false;
    said.system.tools.answer = [&said](const std::string& line) {
        if (line == "adb.exe start-server") return Answer("cannot bind", 1);
        if (line.find(" pull ") == std::string::npos) return Answer("");
        said.system.AddFile("C:\\s.png");
        return Answer("1 file pulled.\r\n");
    };
    EXPECT_EQ(said.Run({"--json", "screenshot", "1", "C:\\s.png"}), 0) << said.console.err;
    EXPECT_NE(said.console.json.find(R"(/sdcard/screenshot1234.png","output":"1 file pulled.\r\n",)"
                                     R"("steps":)"),
              std::string::npos)
        << said.console.json;
    EXPECT_EQ(ScreenshotPath("C:\\a.b\\s", 3, true), "C:\\a.b\\s-3");
    EXPECT_EQ(ScreenshotPath("C:\\{index}\\s.png", 3, false), "C:\\3\\s.png");
}

TEST(FarmRun, BootWaitAsksUntilAndroidHasBooted) {
    Farm farm;
    farm.replies = {{"start", Answer("SUCCESS: start vm finished.")}};
    std::atomic<int> polls = 0;
    farm.system.adb.answer = [&polls](const std::string&, const std::string&) {
        return ++polls < 3 ? Fail("device offline") : Okay("1\n");
    };
    EXPECT_EQ(farm.Run({"start", "2", "--boot"}), 0) << farm.console.err;
    EXPECT_EQ(polls, 3);
    EXPECT_NE(farm.console.out.find("VM 2 has booted."), std::string::npos);
    // Each poll may wait 5 s for its answer.
    for (const DeviceRequest& request : farm.system.adb.Requests()) {
        EXPECT_EQ(request.serial, "127.0.0.1:21523");
        EXPECT_EQ(request.service, "shell:getprop sys.boot_completed");
        EXPECT_DOUBLE_EQ(request.seconds, 5.0);
    }

    Farm never;
    never.replies = {{"start", Answer("SUCCESS: start vm finished.")}};
    never.system.adb.answer = [](const std::string&, const std::string&) {
        return Fail("device offline");
    };
    EXPECT_EQ(never.Run({"--json", "start", "2", "--boot", "--boot-timeout", "5"}), 1);
    EXPECT_NE(never.console.json.find(R"("booted":false)"), std::string::npos);
    // The start, then only the last of the polls.
    EXPECT_NE(
        never.console.json.find(
            R"("steps":[{"command":"memuc.exe memuc start -i 2","ok":true,"output":"SUCCESS: )"
            R"(start vm finished."},{"command":"host:transport:127.0.0.1:21523 + )"
            R"(shell:getprop sys.boot_completed","ok":false,"output":"",)"
            R"("failure":"the adb server refused the request: device offline"}],)"),
        std::string::npos)
        << never.console.json;
    EXPECT_NE(never.console.json.find("had not finished booting after 5 s"), std::string::npos);
    EXPECT_NE(never.console.json.find("the adb server refused the request: device offline"),
              std::string::npos);
}

// Only the answer "1" ends the boot wait: a device that answers "0" or nothing is still booting,
// however promptly it answers.
TEST(FarmRun, OnlyTheAnswerOneEndsTheBootWait) {
    const struct {
        const char* name;
        std::vector<std::string> answers;  // one a poll; the last one again after them
        int exit_code;
        int polls;
        const char* booted;
    } rows[] = {
        {"one at once", {"1\r\n"}, 0, 1, R"("booted":true)"},
        {"zero then one", {"0\n", "0\n", "1\n"}, 0, 3, R"("booted":true)"},
        {"zero throughout", {"0\n"}, 1, 4, R"("booted":false)"},
        {"an empty answer throughout", {""}, 1, 4, R"("booted":false)"},
        {"eleven throughout", {"11\n"}, 1, 4, R"("booted":false)"},
    };
    for (const auto& row : rows) {
        Farm farm;
        farm.replies = {{"start", Answer("SUCCESS: start vm finished.")}};
        std::atomic<size_t> polls = 0;
        farm.system.adb.answer = [&](const std::string&, const std::string&) {
            const size_t poll = polls++;
            return Okay(row.answers[std::min(poll, row.answers.size() - 1)]);
        };
        EXPECT_EQ(farm.Run({"--json", "start", "2", "--boot", "--boot-timeout", "3"}),
                  row.exit_code)
            << row.name << farm.console.json;
        EXPECT_EQ(polls, static_cast<size_t>(row.polls)) << row.name;
        EXPECT_NE(farm.console.json.find(row.booted), std::string::npos)
            << row.name << farm.console.json;
    }
}

// The boot wait ends where the user or the deadline ends it: no question is asked after a
// Ctrl+C, and a wait cut short by the deadline is a failure that says why.
TEST(FarmRun, TheBootWaitEndsAtCtrlCAndAtTheDeadline) {
    const struct {
        const char* name;
        std::vector<std::string> args;
        bool stop_at_first_poll;
        int exit_code;
        int polls;
        const char* verdict;
        const char* says;
    } rows[] = {
        {"Ctrl+C during the wait",
         {"--json", "start", "2", "--boot"},
         true,
         1,
         1,
         R"("verdict":"failed")",
         "the boot wait was stopped by Ctrl+C; the VM is left running"},
        {"the deadline during the wait",
         {"--json", "--deadline", "1.5", "start", "2", "--boot"},
         false,
         4,
         2,
         R"("verdict":"deadline")",
         "the deadline had passed before the step's turn"},
    };
    for (const auto& row : rows) {
        Farm farm;
        farm.replies = {{"start", Answer("SUCCESS: start vm finished.")}};
        std::atomic<int> polls = 0;
        farm.system.adb.answer = [&](const std::string&, const std::string&) {
            ++polls;
            if (row.stop_at_first_poll) farm.system.stop = true;
            return Okay("0\n");  // still booting
        };
        EXPECT_EQ(farm.Run(row.args), row.exit_code) << row.name << farm.console.json;
        EXPECT_EQ(polls, row.polls) << row.name;
        // Never ok, and the reason is given.
        EXPECT_NE(farm.console.json.find(std::string(R"({"ok":false,)") + row.verdict),
                  std::string::npos)
            << row.name << farm.console.json;
        EXPECT_NE(farm.console.json.find(std::string(R"("message":")") + row.says + "\"}}"),
                  std::string::npos)
            << row.name << farm.console.json;
    }
}

// A VM's job stops at its first failed step: a start that failed, whatever its words, is
// followed by no boot wait, and its verdict says it failed.
TEST(FarmRun, NoStepFollowsAFailedOne) {
    const struct {
        const char* name;
        ToolRun start;
        int exit_code;
        const char* said;
    } rows[] = {
        {"exit code 1 beside the words of success", Answer("SUCCESS: start vm finished.", 1), 1,
         R"("verdict":"failed")"},
        {"an error reply", Answer("ERROR: no VM with index 2"), 1, R"("verdict":"failed")"},
        {"no words of success", Answer("started?"), 1, R"("verdict":"failed")"},
        {"a start that timed out", ToolRun{RunEnd::kTimedOut, 0, "", ""}, 1,
         R"("verdict":"timed_out")"},
        {"exit code 0 and the words", Answer("SUCCESS: start vm finished."), 0,
         R"("verdict":"ok")"},
    };
    for (const auto& row : rows) {
        Farm farm;
        farm.replies = {{"start", row.start}};
        EXPECT_EQ(farm.Run({"--json", "start", "2", "--boot"}), row.exit_code)
            << row.name << farm.console.json;
        EXPECT_NE(farm.console.json.find(row.said), std::string::npos)
            << row.name << farm.console.json;
        const bool polled = !farm.system.adb.Requests().empty();
        EXPECT_EQ(polled, row.exit_code == 0) << row.name;
        for (const std::string& line : farm.system.tools.Lines())
            EXPECT_EQ(line.find("getprop"), std::string::npos) << row.name << line;
    }
}

// Once the server has answered, a server that goes away fails the steps that find it gone; they
// are not handed to adb.exe behind the document's "adb":"server".
TEST(FarmRun, AServerThatGoesAwayMidRunFailsTheRestOfTheSet) {
    // The server is started again once; whether that start failed is in the reason.
    for (const unsigned start_exit : {0u, 1u}) {
        Farm farm;
        farm.replies = {{"start-server", Answer("", start_exit)}};
        int asked = 0;
        farm.system.adb.answer = [&](const std::string&, const std::string&) {
            if (++asked == 1) farm.system.adb.listening = false;  // gone after its first answer
            return Okay("");
        };
        EXPECT_EQ(farm.Run({"--json", "tap", "1-3", "1", "2"}), 1) << farm.console.json;
        const nlohmann::json document = nlohmann::json::parse(farm.console.json);
        ASSERT_EQ(document.at("results").size(), 3u) << farm.console.json;
        EXPECT_EQ(document["results"][0].value("verdict", ""), "ok");
        const std::string why =
            std::string("the adb server request failed: no adb server on 127.0.0.1:5037") +
            (start_exit == 0 ? "" : " (starting one failed)");
        for (const size_t vm : {1u, 2u}) {
            EXPECT_EQ(document["results"][vm].value("verdict", ""), "failed") << vm;
            EXPECT_EQ(document["results"][vm].value("ok", true), false) << vm;
            EXPECT_EQ(document["results"][vm].value("failure", ""), why) << farm.console.json;
        }
        EXPECT_EQ(document.value("adb", ""), "server");
        const std::vector<std::string> lines = farm.system.tools.Lines();
        EXPECT_EQ(lines, std::vector<std::string>{"adb.exe start-server"}) << start_exit;
    }
}

// A clone line of a dry run of MEmu's clones.
std::string CloneLineOf(const std::string& number) {
    return "MEmuManage.exe clonevm MEmu --name=\"MEmu_" + number +
           "\" --register --snapshot=\"<UUID of the snapshot taken>\" --options=Link "
           "--options=keepdisknames --uuid={20200716-dddd-dddd-dddd-000000000" +
           number + "}";
}

// Without --json: what goes to standard output and standard error, and that no JSON does.
struct TextRow {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, ToolRun>> replies;
    int exit_code;
    std::string out;
    std::string err;
};

void PrintTo(const TextRow& row, std::ostream* out) {
    *out << row.name;
}

class TextOutputTest : public testing::TestWithParam<TextRow> {};

TEST_P(TextOutputTest, PrintsTextAndNoJson) {
    const TextRow& row = GetParam();
    Farm farm;
    farm.replies = row.replies;
    EXPECT_EQ(farm.Run(row.args), row.exit_code);
    EXPECT_EQ(farm.console.out, row.out);
    EXPECT_EQ(farm.console.err, row.err);
    EXPECT_EQ(farm.console.json, "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TextOutputTest,
    testing::Values(TextRow{"tool output gets a line end",
                            {"shake", "2"},
                            {{"shake", Answer("shaken")}},
                            0,
                            "shaken\n",
                            ""},
                    TextRow{"started without waiting",
                            {"start", "3"},
                            {},
                            0,
                            "Started without waiting: memuc.exe memuc start -i 3\n",
                            ""},
                    TextRow{"list as a table",
                            {"list"},
                            {{"listvms", Answer("0,MEmu,0,0,0\r\n12,MEmu_12,1234,1,5678\r\n")}},
                            0,
                            "index  title    window  inner_window  started  pid   headless_pid\n"
                            "0      MEmu     0       0             no       0     0\n"
                            "12     MEmu_12  1234    1235          yes      5678  0\n",
                            ""},
                    TextRow{"clone dry run",
                            {"clone", "--master", "0", "--count", "2", "--dry-run"},
                            {{"listvms", Answer("0,MEmu,0,0,0\r\n")}},
                            0,
                            "Tools folder: C:\\MEmuHyperv\\\n"
                            "MEmuManage.exe snapshot MEmu take \"SnapshotTest\"\n" +
                                CloneLineOf("101") + "\n" + CloneLineOf("102") + "\n",
                            ""},
                    TextRow{"not found",
                            {"--install-dir", "D:\\Nowhere", "list"},
                            {},
                            3,
                            "",
                            "MEmuFarm: D:\\Nowhere holds no memuc.exe\n"},
                    TextRow{"a set",
                            {"shake", "1-2"},
                            {{"-i 2", Answer("ERROR: no\r\n", 1)}, {"", Answer("done\r\n")}},
                            1,
                            "1     ok             0.00s  done\n"
                            "2     failed         0.00s  memuc.exe ended with exit code 1\n"
                            "2 VMs: 1 ok, 1 failed.\n",
                            "MEmuFarm: 1 of 2 VMs failed\n"}),
    RowName());

// A VM's seconds, in milliseconds in the set's JSON and in hundredths on its text line.
TEST(FarmRun, ASetShowsEachVmsSeconds) {
    Farm farm;
    farm.system.tools.answer = [&farm](const std::string&) {
        farm.system.Sleep(1.2346);
        return Answer("");
    };
    farm.Run({"--json", "shake", "1-2"});
    EXPECT_NE(farm.console.json.find(R"("seconds":1.235,)"), std::string::npos)
        << farm.console.json;
    Farm text;
    text.system.tools.answer = [&text](const std::string&) {
        text.system.Sleep(1.2346);
        return Answer("");
    };
    text.Run({"shake", "1-2"});
    EXPECT_NE(text.console.out.find("1.23s"), std::string::npos) << text.console.out;
}

// Help and the version go to standard output as text, or as one JSON document.
TEST(FarmOutput, InformationIsTextOrOneDocument) {
    FakeConsole text;
    PrintInformation("version", "1.1.0", false, text);
    EXPECT_EQ(text.out, "1.1.0");
    EXPECT_EQ(text.json, "");
    FakeConsole json;
    PrintInformation("version", "1.1.0", true, json);
    EXPECT_EQ(json.out, "");
    EXPECT_EQ(json.json, "{\"ok\":true,\"version\":\"1.1.0\"}\n");
}

// A round of health --watch: redrawn in place on a console window without --json, else one
// JSON document a line.
struct WatchRow {
    const char* name;
    bool console;
    bool json;
    bool redrawn;
};

class ScreenConsole : public FakeConsole {
public:
    bool console = false;
    int redraws = 0;
    bool OutputIsConsole() override { return console; }
    void Redraw(std::string_view) override { ++redraws; }
};

class WatchRoundTest : public testing::TestWithParam<WatchRow> {};

TEST_P(WatchRoundTest, RedrawnOnAConsoleElseAJsonLine) {
    const WatchRow& row = GetParam();
    std::vector<std::string> args = {"health", "--watch", "5"};
    if (row.json) args.push_back("--json");
    const ParseOutcome parsed = ParseFarmArgs(args, "1");
    ScreenConsole console;
    console.console = row.console;
    ProgressPrinter(parsed.request, console).health_round(HealthRound{});
    EXPECT_EQ(console.redraws, row.redrawn ? 1 : 0);
    EXPECT_EQ(console.json.empty(), row.redrawn);
}

INSTANTIATE_TEST_SUITE_P(Rows, WatchRoundTest,
                         testing::Values(WatchRow{"console", true, false, true},
                                         WatchRow{"console_json", true, true, false},
                                         WatchRow{"pipe", false, false, false},
                                         WatchRow{"pipe_json", false, true, false}),
                         RowName());

// --- The clone job ----------------------------------------------------------------------------

const std::string kUuid1 = "11111111-2222-3333-4444-555555555555";

std::string CloneLine(const std::string& number, const std::string& snapshot) {
    return "MEmuManage.exe clonevm MEmu_2 --name=\"MEmu_" + number + "\" --register --snapshot=\"" +
           snapshot +
           "\" --options=Link --options=keepdisknames --uuid={20200716-dddd-dddd-dddd-000000000" +
           number + "}";
}

TEST(FarmClone, ClonesFromTheSnapshotThisRunTook) {
    Farm farm;
    farm.replies = {{" take ", Answer("0%...100%\r\nSnapshot taken. UUID: " + kUuid1 + "\r\n")},
                    {"MEmu_122", Answer("Error: exists\r\n", 1)},
                    {"clonevm", Answer("Machine has been successfully cloned\r\n")}};
    farm.system.builds.bundled = {{"7.2.2", "bytes"}};
    EXPECT_EQ(farm.Run({"clone", "--master", "2", "--count", "2", "--first", "121", "--console",
                        "7.2.2"}),
              1);
    const std::vector<StartedLine> started = farm.system.tools.Started();
    ASSERT_EQ(started.size(), 4u);
    EXPECT_EQ(started[0].line, "memuc.exe memuc listvms");
    EXPECT_EQ(started[1].folder, "C:\\MEmuHyperv\\");
    EXPECT_EQ(started[2].line, CloneLine("121", kUuid1));
    // MEmuManage.exe by its name from the tools folder, its arguments apart.
    EXPECT_EQ(started[1].program, "MEmuManage.exe");
    EXPECT_EQ(started[2].program, "MEmuManage.exe");
    EXPECT_EQ(farm.system.files.writes.at(0).first, "C:\\MEmu\\MEmuConsole.exe");
    EXPECT_EQ(farm.console.out,
              "MEmuConsole.exe: the 7.2.2 build was written.\r\n"
              "设置母盘成功！\r\n快照设置成功：MEmu_121\r\n快照设置失败！\r\nError: exists\r\n\r\n"
              "-------完成--------\r\n"
              "Summary: snapshot taken (UUID " +
                  kUuid1 + "), 1 of 2 clones registered.\n");
}

// What each command learns of the listed VMs: clone checks numbers and titles, from the list
// command's reply alone; list and a set command look at the windows and processes as well.
TEST(FarmListingDetail, CloneReadsTheReplyAloneAndListTheWholeFarm) {
    const struct {
        const char* name;
        std::vector<std::string> args;
        bool whole;
    } rows[] = {
        {"clone", {"clone", "--master", "0", "--count", "1", "--dry-run"}, false},
        {"clone --first next",
         {"clone", "--master", "0", "--count", "1", "--first", "next", "--dry-run"},
         false},
        {"list", {"list"}, true},
        {"the running set", {"stop", "running"}, true},
    };
    for (const auto& row : rows) {
        Farm farm;
        farm.replies = {{"listvms", Answer("0,MEmu,1001,1,600\r\n1,MEmu_1,1002,1,601\r\n")}};
        farm.system.processes.AddHeadless(600, "MEmuHeadless.exe --comment MEmu --startvm a");
        farm.system.processes.AddHeadless(601, "MEmuHeadless.exe --comment MEmu_1 --startvm b");
        farm.Run(row.args);
        EXPECT_EQ(farm.system.processes.snapshots > 0, row.whole) << row.name;
        EXPECT_EQ(farm.system.window_walks.load() > 0, row.whole) << row.name;
    }
}

TEST(FarmClone, ToolsFolderIsBesideTheInstallFolderWhateverItsCase) {
    const std::pair<const char*, const char*> rows[] = {
        {"D:\\Microvirt\\memu", "D:\\Microvirt\\MEmuHyperv\\"},
        {"D:\\MEmuData\\MEmu\\", "D:\\MEmuHyperv\\"},
        {"D:\\Emu", "D:\\MEmuHyperv\\"},
        {"E:\\", "E:\\MEmuHyperv\\"},
    };
    for (const auto& [install, tools] : rows) {
        Farm farm;
        std::string folder = install;
        if (folder.back() != '\\') folder += '\\';
        farm.system.AddFile(folder + "memuc.exe");
        farm.Run({"--install-dir", install, "clone", "--master", "0", "--count", "1"});
        ASSERT_EQ(farm.system.tools.Started().size(), 2u) << install;  // listing, snapshot
        EXPECT_EQ(farm.system.tools.Started()[1].folder, tools) << install;
    }
}

TEST(FarmClone, AFailedSnapshotRegistersNoClone) {
    const std::pair<const char*, ToolRun> rows[] = {
        {"no word", Answer("Error: no machine\r\n", 1)},
        {"no UUID", Answer("Snapshot taken.\r\n")},
        {"not started", ToolRun{RunEnd::kNotStarted, 0, "", "MEmuManage.exe could not start"}},
        {"exit code 1 beside a UUID", Answer("Snapshot taken. UUID: " + kUuid1 + "\r\n", 1)},
    };
    for (const auto& [name, reply] : rows) {
        Farm farm;
        farm.replies = {{" take ", reply}};
        EXPECT_EQ(farm.Run({"--json", "clone", "--master", "0", "--count", "3"}), 1) << name;
        EXPECT_EQ(farm.system.tools.Lines().size(), 2u) << name;  // the listing, the snapshot
        EXPECT_NE(farm.console.json.find(R"("registered":0)"), std::string::npos) << name;
    }
}

// A clone numbered above the highest adb index (4403) is cloned all the same, and its result
// says once that it has no adb port: a line of text, and the JSON document's "notes".
struct AdbNoteRow {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, ToolRun>> replies;
    int exit_code;
    std::vector<std::string> notes;
    std::vector<std::string> keys;  // the document's keys, in order
};

void PrintTo(const AdbNoteRow& row, std::ostream* out) {
    *out << row.name;
}

class AdbNoteTest : public testing::TestWithParam<AdbNoteRow> {};

std::string NoAdbPort(const std::string& number) {
    return "VM " + number + " has no adb port: 21503 + 10 x " + number + " is beyond 65535";
}

TEST_P(AdbNoteTest, SaidOnceForEachCloneWithoutAPort) {
    const AdbNoteRow& row = GetParam();
    Farm json;
    json.replies = row.replies;
    std::vector<std::string> args = {"--json"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    EXPECT_EQ(json.Run(args), row.exit_code) << json.console.err;
    const nlohmann::ordered_json document = nlohmann::ordered_json::parse(json.console.json);
    std::vector<std::string> keys;
    for (const auto& [key, value] : document.items()) keys.push_back(key);
    EXPECT_EQ(keys, row.keys) << json.console.json;
    EXPECT_EQ(document.value("notes", std::vector<std::string>{}), row.notes) << json.console.json;

    Farm text;
    text.replies = row.replies;
    EXPECT_EQ(text.Run(row.args), row.exit_code);
    for (const std::string& note : row.notes) {
        const size_t at = text.console.out.find(note + "\n");
        EXPECT_NE(at, std::string::npos) << text.console.out;
        EXPECT_EQ(text.console.out.find(note, at + 1), std::string::npos) << text.console.out;
    }
    EXPECT_EQ(text.console.out.find("has no adb port") != std::string::npos, !row.notes.empty())
        << text.console.out;
}

const std::vector<std::pair<std::string, ToolRun>> kClones = {
    {" take ", Answer("Snapshot taken. UUID: " + kUuid1)},
    {"clonevm", Answer("successfully cloned")}};
const std::vector<std::string> kDryRunKeys = {"ok",        "master",  "first",   "count",
                                              "tools_dir", "dry_run", "commands"};
const std::vector<std::string> kRunKeys = {"ok",    "master",     "first",
                                           "count", "tools_dir",  "snapshot_uuid",
                                           "steps", "registered", "stopped"};

std::vector<std::string> With(std::vector<std::string> keys,
                              std::initializer_list<const char*> more) {
    keys.insert(keys.end(), more.begin(), more.end());
    return keys;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AdbNoteTest,
    testing::Values(
        AdbNoteRow{"dry run up to the highest adb index",
                   {"clone", "--master", "0", "--count", "3", "--first", "4401", "--dry-run"},
                   {},
                   0,
                   {},
                   kDryRunKeys},
        AdbNoteRow{"dry run one past it",
                   {"clone", "--master", "0", "--count", "3", "--first", "4402", "--dry-run"},
                   {},
                   0,
                   {NoAdbPort("4404")},
                   With(kDryRunKeys, {"notes"})},
        AdbNoteRow{"dry run far past it",
                   {"clone", "--master", "0", "--count", "2", "--first", "9999999", "--dry-run"},
                   {},
                   0,
                   {NoAdbPort("9999999"), NoAdbPort("10000000")},
                   With(kDryRunKeys, {"notes"})},
        AdbNoteRow{"clones at the highest adb index and past it",
                   {"clone", "--master", "0", "--count", "2", "--first", "4403"},
                   kClones,
                   0,
                   {NoAdbPort("4404")},
                   With(kRunKeys, {"notes"})},
        AdbNoteRow{"a clone that failed has no note",
                   {"clone", "--master", "0", "--count", "2", "--first", "4404"},
                   {{" take ", Answer("Snapshot taken. UUID: " + kUuid1)},
                    {"MEmu_4405", Answer("Error: exists\r\n", 1)},
                    {"clonevm", Answer("successfully cloned")}},
                   1,
                   {NoAdbPort("4404")},
                   With(kRunKeys, {"notes", "error"})},
        AdbNoteRow{"randomized clones past it",
                   {"clone", "--master", "0", "--count", "1", "--first", "5000", "--randomize"},
                   {{" take ", Answer("Snapshot taken. UUID: " + kUuid1)},
                    {"randomize", Answer("SUCCESS: randomize vm finished.")},
                    {"clonevm", Answer("successfully cloned")}},
                   0,
                   {NoAdbPort("5000")},
                   With(kRunKeys, {"notes"})}),
    RowName());

TEST(FarmClone, RandomizeFollowsEachCloneAndFailsItsStep) {
    Farm farm;
    farm.replies = {{" take ", Answer("Snapshot taken. UUID: " + kUuid1)},
                    {"randomize -i 102", Answer("ERROR: no", 1)},
                    {"randomize", Answer("SUCCESS: randomize vm finished.")},
                    {"clonevm", Answer("successfully cloned")}};
    EXPECT_EQ(farm.Run({"--json", "clone", "--master", "0", "--count", "2", "--randomize"}), 1);
    const std::vector<StartedLine> started = farm.system.tools.Started();
    ASSERT_EQ(started.size(), 6u);  // the listing, then the steps
    EXPECT_EQ(started[3].line, "memuc.exe memuc randomize -i 101");
    EXPECT_EQ(started[3].folder, "C:\\MEmu\\");
    EXPECT_EQ(started[5].line, "memuc.exe memuc randomize -i 102");
    // The report lists the steps in the order they ran.
    const nlohmann::json steps = nlohmann::json::parse(farm.console.json)["steps"];
    ASSERT_EQ(steps.size(), started.size() - 1);
    for (size_t i = 0; i < steps.size(); ++i)
        EXPECT_EQ(steps[i]["command"], started[i + 1].line) << i;
    EXPECT_EQ(steps[4]["ok"], false);
    EXPECT_NE(farm.console.json.find(R"("registered":1)"), std::string::npos);
}

TEST(FarmClone, FirstNextNumbersOnFromTheListing) {
    const std::tuple<const char*, const char*, int64_t> rows[] = {
        {"0,MEmu,0,0,0\r\n", "0", 101},
        {"0,MEmu,0,0,0\r\n130,MEmu_130,0,0,0\r\n7,x,0,0,0\r\n", "0", 131},
        {"0,MEmu,0,0,0\r\n", "150", 151},  // a master the listing lacks is numbered past too
    };
    for (const auto& [listing, master, first] : rows) {
        Farm farm;
        farm.replies = {{"listvms", Answer(listing)}};
        EXPECT_EQ(farm.Run({"--json", "clone", "--master", master, "--count", "1", "--first",
                            "next", "--dry-run"}),
                  0)
            << farm.console.json;
        EXPECT_NE(farm.console.json.find("\"first\":" + std::to_string(first)), std::string::npos)
            << farm.console.json;
        EXPECT_NE(farm.console.json.find("--name=\\\"MEmu_" + std::to_string(first)),
                  std::string::npos);
    }
    Farm broken;
    broken.replies = {{"listvms", Answer("ERROR: service down", 1)}};
    EXPECT_EQ(broken.Run({"clone", "--master", "0", "--count", "1", "--first", "next"}), 1);
    EXPECT_NE(broken.console.err.find("--first next needs the VM listing"), std::string::npos);
}

// Every numbering is checked against the listing before anything runs: a clone number that
// is the master's or a listed VM's is refused as a usage error, naming the first clash.
struct CloneNumberRow {
    const char* name;
    std::string listing;  // memuc's listvms reply
    std::vector<std::string> args;
    int exit_code;
    const char* message;  // a part of the error; null: accepted
};

void PrintTo(const CloneNumberRow& row, std::ostream* out) {
    *out << row.name;
}

std::string Listed(std::initializer_list<int> indexes) {
    std::string reply;
    for (int index : indexes) {
        const std::string number = std::to_string(index);
        reply.append(number).append(",MEmu");
        if (index != 0) reply.append("_").append(number);
        reply.append(",0,0,0\r\n");
    }
    return reply;
}

class CloneNumberTest : public testing::TestWithParam<CloneNumberRow> {};

TEST_P(CloneNumberTest, RefusesNumbersThatAVmHas) {
    const CloneNumberRow& row = GetParam();
    for (const bool dry_run : {false, true}) {
        Farm farm;
        farm.replies = {{"listvms", Answer(row.listing)},
                        {" take ", Answer("Snapshot taken. UUID: " + kUuid1)},
                        {"clonevm", Answer("successfully cloned")}};
        farm.system.builds.bundled = {{"7.2.2", "bytes"}};
        std::vector<std::string> args = {"--json", "clone", "--console", "7.2.2"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        if (dry_run) args.push_back("--dry-run");
        EXPECT_EQ(farm.Run(args), row.exit_code) << dry_run << farm.console.json;
        const std::vector<std::string> lines = farm.system.tools.Lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front(), "memuc.exe memuc listvms");
        if (row.message) {
            EXPECT_NE(farm.console.json.find(row.message), std::string::npos)
                << dry_run << farm.console.json;
            // Nothing ran after the listing: no console write, no snapshot, no clone.
            EXPECT_EQ(lines.size(), 1u) << dry_run;
            EXPECT_TRUE(farm.system.files.writes.empty()) << dry_run;
        } else if (!dry_run) {
            EXPECT_GT(lines.size(), 2u);
            EXPECT_EQ(farm.system.files.writes.size(), 1u);
            EXPECT_NE(
                farm.console.json.find(R"("console":{"version":"7.2.2","ok":true,"message":)"),
                std::string::npos)
                << farm.console.json;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    FarmClone, CloneNumberTest,
    testing::Values(CloneNumberRow{"clash at the first number",
                                   Listed({0, 1, 2, 3}),
                                   {"--master", "0", "--count", "3", "--first", "1"},
                                   2,
                                   "clone number 1 is VM 1 ('MEmu_1'), which exists; "},
                    CloneNumberRow{"clash at the last number only",
                                   Listed({0, 7}),
                                   {"--master", "0", "--count", "4", "--first", "4"},
                                   2,
                                   "clone number 7 is VM 7 ('MEmu_7'), which exists"},
                    CloneNumberRow{"last number just below a listed VM",
                                   Listed({0, 7}),
                                   {"--master", "0", "--count", "3", "--first", "4"},
                                   0,
                                   nullptr},
                    CloneNumberRow{"one past the highest listed VM",
                                   Listed({0, 1, 2, 3}),
                                   {"--master", "0", "--count", "2", "--first", "4"},
                                   0,
                                   nullptr},
                    CloneNumberRow{"the listed master",
                                   Listed({0, 1, 2}),
                                   {"--master", "2", "--count", "2", "--first", "2"},
                                   2,
                                   "clone number 2 is the master, VM 2 ('MEmu_2')"},
                    CloneNumberRow{"a master the listing lacks",
                                   Listed({0}),
                                   {"--master", "5", "--count", "3", "--first", "3"},
                                   2,
                                   "clone number 5 is the master, VM 5 ('MEmu_5')"},
                    CloneNumberRow{"the first clash is named",
                                   Listed({0, 6, 4}),
                                   {"--master", "5", "--count", "9", "--first", "1"},
                                   2,
                                   "clone number 4 is VM 4"},
                    CloneNumberRow{"the refusal suggests --first next",
                                   Listed({0, 101}),
                                   {"--master", "0", "--count", "1"},
                                   2,
                                   "or --first next"},
                    CloneNumberRow{
                        "next after the highest index cannot be randomized",
                        Listed({0, 2147483647}),
                        {"--master", "0", "--count", "1", "--first", "next", "--randomize"},
                        1,
                        "--first next gives clone numbers from 2147483648, beyond"},
                    CloneNumberRow{"a failed listing runs nothing",
                                   "ERROR: service down",
                                   {"--master", "0", "--count", "1"},
                                   1,
                                   "clone checks its numbers against the VM listing, which failed"},
                    CloneNumberRow{"an unreadable listing runs nothing",
                                   "0,MEmu,0,0,0\r\nnonsense\r\n",
                                   {"--master", "0", "--count", "1", "--first", "next"},
                                   1,
                                   "--first next needs the VM listing, which failed: 1 line"}),
    RowName());

// A dry run keeps to the deadline too: once it has passed, the plan ends there and says so.
TEST(FarmClone, ADryRunPastItsDeadlinePlansNoMoreAndSaysSo) {
    Farm farm;
    farm.system.tools.answer = [&farm](const std::string& line) {
        if (line.find("listvms") != std::string::npos) farm.system.Sleep(0.3);
        return Answer("0,MEmu,0,0,0\r\n");
    };
    EXPECT_EQ(farm.Run({"--json", "--deadline", "0.2", "clone", "--master", "0", "--count", "3",
                        "--dry-run"}),
              4)
        << farm.console.json;
    EXPECT_EQ(farm.console.json.find("clonevm"), std::string::npos) << farm.console.json;
    EXPECT_NE(farm.console.json.find(R"("ok":false)"), std::string::npos) << farm.console.json;
}

TEST(FarmClone, StoppedOrOutOfTimeKeepsTheStepsSoFar) {
    Farm stopped;
    stopped.system.stop = true;
    stopped.replies = {{" take ", Answer("Snapshot taken. UUID: " + kUuid1)}};
    EXPECT_EQ(stopped.Run({"clone", "--master", "0", "--count", "5"}), 1);
    EXPECT_EQ(stopped.system.tools.Lines().size(), 2u);  // the listing and the snapshot only
    EXPECT_NE(stopped.console.out.find("0 of 5 clones registered, stopped after 0"),
              std::string::npos);

    Farm late;
    late.replies = {{" take ", Answer("Snapshot taken. UUID: " + kUuid1)}};
    late.system.tools.hang_on = "MEmu_101";
    EXPECT_EQ(late.Run({"--json", "--deadline", "0.2", "clone", "--master", "0", "--count", "2"}),
              4);
    EXPECT_NE(late.console.json.find(R"("finished":false)"), std::string::npos);

    // The deadline passes between two steps: the next is not started, and fails unfinished.
    Farm slow;
    slow.system.tools.answer = [&slow](const std::string& line) {
        if (line.find(" take ") == std::string::npos) return Answer("");
        slow.system.Sleep(0.5);
        return Answer("Snapshot taken. UUID: " + kUuid1);
    };
    EXPECT_EQ(slow.Run({"--json", "--deadline", "0.2", "clone", "--master", "0", "--count", "2"}),
              4);
    EXPECT_EQ(slow.system.tools.Lines().size(), 2u);  // the listing and the snapshot
    EXPECT_NE(slow.console.json.find(
                  R"(000000000101}","ok":false,"output":"","finished":false}],"registered":0,)"
                  R"("stopped":true,)"),
              std::string::npos)
        << slow.console.json;
    EXPECT_NE(late.console.json.find(R"("exit_code":4)"), std::string::npos);
    // Only a step given up while it ran leaves a tool running, and only then is that said.
    EXPECT_NE(late.console.err.find("the deadline passed; the tool is left running"),
              std::string::npos)
        << late.console.err;
    EXPECT_NE(
        slow.console.err.find("the deadline passed before the next step; nothing was started"),
        std::string::npos)
        << slow.console.err;

    // A listing still running at the deadline: nothing else is started.
    Farm unlisted;
    unlisted.system.tools.hang_on = "listvms";
    EXPECT_EQ(
        unlisted.Run({"--json", "--deadline", "0.2", "clone", "--master", "0", "--count", "2"}), 4);
    EXPECT_EQ(unlisted.system.tools.Lines().size(), 1u);
    EXPECT_NE(unlisted.console.json.find(R"("exit_code":4)"), std::string::npos);
}

}  // namespace
