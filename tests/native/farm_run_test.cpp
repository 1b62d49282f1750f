#include "cli/farm_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/recording_platform.h"
#include "fake_console_builds.h"
#include "fake_control_platform.h"

namespace {

class FakeConsole : public FarmConsole {
public:
    std::string out, err, json;
    bool stop = false;
    void Print(std::string_view text) override { out += text; }
    void PrintError(std::string_view text) override { err += text; }
    void PrintJson(std::string_view utf8) override { json += utf8; }
    std::string Utf8FromGbk(std::string_view text) override { return std::string(text); }
    bool StopRequested() override { return stop; }
};

// A platform whose tool hangs on lines holding `hang_on`: the deadline passes while waiting.
class HangingPlatform : public FakeControlPlatform {
public:
    std::string hang_on = "hang";
    std::string Run(const std::string& command, int timeout_ms = 0) override {
        if (command.find(hang_on) != std::string::npos) throw DeadlinePassed{command, "partial"};
        return FakeControlPlatform::Run(command, timeout_ms);
    }
};

struct Farm {
    HangingPlatform platform;
    RecordingPlatform recorder{platform};
    EmulatorControl control{recorder};
    FakeBuilds builds;
    FakeFiles files;
    FakeConsole console;
    FarmServices services{platform, recorder, control, builds, files, console};

    int Run(const std::vector<std::string>& args) {
        ParseOutcome parsed = ParseFarmArgs(args, "1");
        EXPECT_EQ(parsed.kind, ParseOutcome::Kind::kRun) << parsed.text;
        return RunFarm(parsed.request, services);
    }
};

struct VerbRow {
    std::vector<std::string> args;
    std::vector<std::string> replies;
    int exit_code;
    std::string json;
};

class FarmVerbTest : public testing::TestWithParam<VerbRow> {};

TEST_P(FarmVerbTest, EachRunModeAndResultRule) {
    const VerbRow& row = GetParam();
    Farm farm;
    farm.platform.replies.assign(row.replies.begin(), row.replies.end());
    farm.platform.processes.AddHeadless(77, "MEmuHeadless.exe --comment MEmu_1 --startvm x");
    EXPECT_EQ(farm.Run(row.args), row.exit_code);
    EXPECT_EQ(farm.console.json, row.json + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FarmVerbTest,
    testing::Values(
        VerbRow{{"--json", "list"},
                {"0,MEmu,0,0,0\r\n1,MEmu_1,1234,1,5678\r\n"},
                0,
                R"({"ok":true,"vms":[{"index":0,"title":"MEmu","window":0,"inner_window":0,)"
                R"("started":false,"pid":0,"headless_pid":0},{"index":1,"title":"MEmu_1",)"
                R"("window":1234,"inner_window":1235,"started":true,"pid":5678,)"
                R"("headless_pid":77}]})"},
        VerbRow{{"--json", "list"},
                {"ERROR: no\r\n"},
                1,
                R"({"ok":false,"vms":[],"output":"ERROR: no\r\n"})"},
        VerbRow{{"--json", "start", "3", "--wait", "--timeout", "500"},
                {"SUCCESS: start vm finished."},
                0,
                R"({"ok":true,"command":"memuc.exe memuc start -i 3",)"
                R"("output":"SUCCESS: start vm finished."})"},
        VerbRow{{"--json", "stop", "1"},
                {},
                0,
                R"({"ok":true,"command":"memuc.exe memuc stop -i 1","output":"","detached":true})"},
        VerbRow{{"--json", "running", "1"},
                {"Not Running"},
                1,
                R"({"ok":false,"command":"memuc.exe memuc isvmrunning -i 1",)"
                R"("output":"Not Running","running":false})"},
        VerbRow{{"--json", "remove", "2"},
                {"ERROR: no VM"},
                1,
                R"({"ok":false,"command":"memuc.exe memuc remove -i 2","output":"ERROR: no VM"})"},
        VerbRow{{"--json", "shake", "2"},
                {"anything"},
                0,
                R"({"ok":true,"command":"memuc.exe memuc shake -i 2","output":"anything"})"},
        VerbRow{{"--json", "getconfig", "1", "hang"},
                {},
                4,
                R"({"ok":false,"error":"deadline","waiting_for":"memuc.exe getconfig -i 1 hang",)"
                R"("output":"partial"})"}));

TEST(FarmRun, InstallationMissingGivesExitCodeThree) {
    Farm farm;
    farm.platform.existing_files = {"D:\\Emu\\memuc.exe"};
    farm.platform.replies = {"SUCCESS"};
    EXPECT_EQ(farm.Run({"--install-dir", "D:\\Emu", "sortwin"}), 0);
    EXPECT_EQ(farm.control.control_dir, "D:\\Emu\\");
    EXPECT_EQ(farm.Run({"--json", "--install-dir", "D:\\Nowhere", "list"}), 3);
    EXPECT_NE(farm.console.json.find(R"("error":"not_found")"), std::string::npos);

    Farm none;
    none.platform.discovered.clear();
    // The constructed object found nothing; discovery runs again for the command and finds
    // nothing either.
    EmulatorControl control(none.recorder);
    FarmServices services{none.platform, none.recorder, control,
                          none.builds,   none.files,    none.console};
    EXPECT_EQ(RunFarm(ParseFarmArgs({"list"}, "1").request, services), 3);
    EXPECT_NE(none.console.err.find("the emulator was not found"), std::string::npos);
    EXPECT_TRUE(none.platform.runs.empty());
}

TEST(FarmRun, CloneNumbersFromFirstAndReportsEveryStep) {
    Farm farm;
    farm.platform.replies = {"Snapshot taken.", "successfully cloned", "Error: exists"};
    farm.builds.bundled = {{"7.2.2", "bytes"}};
    EXPECT_EQ(farm.Run({"clone", "--master", "2", "--count", "2", "--first", "121", "--console",
                        "7.2.2"}),
              1);
    ASSERT_EQ(farm.platform.runs.size(), 3u);
    EXPECT_EQ(farm.platform.runs[1].line,
              "MEmuManage.exe clonevm MEmu_2 --name=\"MEmu_121\" --register "
              "--snapshot=\"SnapshotTest\" --options=Link --options=keepdisknames "
              "--uuid={20200716-dddd-dddd-dddd-000000000121}");
    EXPECT_EQ(farm.files.writes.at(0).first, "C:\\MEmu\\MEmuConsole.exe");
    EXPECT_NE(farm.platform.Count("cd C:\\MEmuHyperv\\"), 0);
    EXPECT_EQ(farm.console.out,
              "MEmuConsole.exe: the 7.2.2 build was written.\r\n"
              "设置母盘成功！\r\n快照设置成功：MEmu_121\r\n快照设置失败！\r\nError: exists\r\n"
              "-------完成--------\r\n"
              "Summary: snapshot taken, 1 of 2 clones registered.\r\n");

    // A build that is not bundled fails the job even when every step succeeds; a dry run
    // prints the lines and runs nothing.
    Farm dry;
    EXPECT_EQ(dry.Run({"--json", "clone", "--master", "0", "--count", "1", "--dry-run"}), 0);
    EXPECT_TRUE(dry.platform.runs.empty());
    EXPECT_NE(dry.console.json.find(R"("commands":["MEmuManage.exe snapshot MEmu take)"),
              std::string::npos);
    Farm missing;
    missing.platform.replies = {"taken", "successfully"};
    EXPECT_EQ(missing.Run({"clone", "--master", "0", "--count", "1", "--console", "7.2.1"}), 1);
    EXPECT_TRUE(missing.files.writes.empty());
}

TEST(FarmRun, CloneStoppedOrOutOfTimeKeepsTheStepsSoFar) {
    Farm stopped;
    stopped.platform.replies = {"taken", "successfully"};
    stopped.console.stop = true;
    EXPECT_EQ(stopped.Run({"clone", "--master", "0", "--count", "5"}), 1);
    EXPECT_EQ(stopped.platform.runs.size(), 1u);  // the snapshot only
    EXPECT_NE(stopped.console.out.find("0 of 5 clones registered, stopped after 0"),
              std::string::npos);

    Farm late;
    late.platform.replies = {"taken"};
    late.platform.hang_on = "MEmu_101";
    EXPECT_EQ(late.Run({"--json", "clone", "--master", "0", "--count", "2"}), 4);
    EXPECT_NE(late.console.json.find(R"("error":"deadline","waiting_for":"MEmuManage.exe clonevm)"),
              std::string::npos);
    EXPECT_NE(late.console.json.find(R"("steps":[{"command":"MEmuManage.exe snapshot)"),
              std::string::npos);
}

}  // namespace
