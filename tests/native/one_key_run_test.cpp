#include "cloning/one_key_run.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "cloning/clone_commands.h"

namespace {

// Records what the run does; replies come from a function of the command line.
class FakeHost : public OneKeyRunHost {
public:
    std::string discovered = "D:\\Emu\\MEmu\\";
    int discoveries = 0;
    int32_t selected = 0;
    std::string count_text = "3";
    std::function<std::optional<std::string>(const std::string&)> reply =
        [](const std::string& line) -> std::optional<std::string> {
        return line.find("snapshot ") != std::string::npos
                   ? "Snapshot taken. UUID: x\r\n"
                   : "Machine has been successfully cloned\r\n";
    };
    int stop_after_commands = -1;  // StopRequested turns true after this many commands

    std::vector<std::string> commands;
    std::vector<std::string> programs;            // the program of each line, as the run gave it
    std::vector<std::string> directories_at_run;  // current directory when each command ran
    std::vector<std::string> log;
    std::string current_dir;
    int pumps = 0;

    std::string DiscoverInstallDirectory() override {
        ++discoveries;
        return discovered;
    }
    void MakeDirectoryCurrent(const std::string& folder) override { current_dir = folder; }
    int32_t SelectedVmIndex() override { return selected; }
    // The window's reading of its count box.
    int64_t CloneCount() override { return CloneCountOf(count_text); }
    CommandOutcome RunCommand(const ToolLine& tool_line) override {
        const std::string line = tool_line.Text();
        programs.push_back(tool_line.program);
        commands.push_back(line);
        directories_at_run.push_back(current_dir);
        current_dir = "elsewhere\\";  // a nested refresh may change it while a command runs
        const std::optional<std::string> output = reply(line);
        if (!output) return {"", /*finished=*/false, false};
        return {*output, true, failed};
    }
    bool failed = false;  // the companion's reading: the tool failed whatever it printed
    void AppendLog(const std::string& text) override { log.push_back(text); }
    void PumpPendingMessages() override { ++pumps; }
    struct Step {
        std::string line;
        bool has_output;
        bool ok;
    };
    std::vector<Step> steps;
    void StepDone(const std::string& line, const std::string* output, bool ok) override {
        steps.push_back({line, output != nullptr, ok});
    }
    bool StopRequested() override {
        return stop_after_commands >= 0 && static_cast<int>(commands.size()) >= stop_after_commands;
    }
};

struct Dirs {
    std::string install = "D:\\Emu\\MEmu\\";
    std::string tools;
    RunDirectories ref() { return {install, tools}; }
};

TEST(OneKeyRun, ThreeClonesOfTheFirstVm) {
    FakeHost host;
    Dirs dirs;
    RunOneKey(host, dirs.ref());

    const std::vector<std::string> expected_commands = {
        "MEmuManage.exe snapshot MEmu take \"SnapshotTest\"",
        "MEmuManage.exe clonevm MEmu --name=\"MEmu_101\" --register --snapshot=\"SnapshotTest\" "
        "--options=Link --options=keepdisknames --uuid={20200716-dddd-dddd-dddd-000000000101}",
        "MEmuManage.exe clonevm MEmu --name=\"MEmu_102\" --register --snapshot=\"SnapshotTest\" "
        "--options=Link --options=keepdisknames --uuid={20200716-dddd-dddd-dddd-000000000102}",
        "MEmuManage.exe clonevm MEmu --name=\"MEmu_103\" --register --snapshot=\"SnapshotTest\" "
        "--options=Link --options=keepdisknames --uuid={20200716-dddd-dddd-dddd-000000000103}",
    };
    EXPECT_EQ(host.commands, expected_commands);
    const std::vector<std::string> expected_log = {
        "设置母盘成功！\r\n", "快照设置成功：MEmu_101\r\n", "快照设置成功：MEmu_102\r\n",
        "快照设置成功：MEmu_103\r\n", "-------完成--------\r\n"};
    EXPECT_EQ(host.log, expected_log);
    EXPECT_EQ(dirs.tools, "D:\\Emu\\MEmuHyperv\\");
    // Every command ran in the tools folder, even after something else changed the folder.
    for (const auto& d : host.directories_at_run) EXPECT_EQ(d, "D:\\Emu\\MEmuHyperv\\");
    EXPECT_EQ(host.pumps, 4);  // after the snapshot and after each clone
    EXPECT_EQ(host.discoveries, 0);
}

struct CountRow {
    std::string text;
    size_t clones;
};

class CloneCountTest : public testing::TestWithParam<CountRow> {};

TEST_P(CloneCountTest, CountTextDecidesHowManyClonesRun) {
    FakeHost host;
    host.count_text = GetParam().text;
    Dirs dirs;
    RunOneKey(host, dirs.ref());
    EXPECT_EQ(host.commands.size(), GetParam().clones + 1);
    EXPECT_EQ(host.log.back(), "-------完成--------\r\n");
    EXPECT_EQ(host.log.size(), GetParam().clones + 2);
}

INSTANTIATE_TEST_SUITE_P(Rows, CloneCountTest,
                         testing::Values(CountRow{"0", 0}, CountRow{"-2", 0}, CountRow{"abc", 0},
                                         CountRow{"", 0}, CountRow{"\xA3\xB3", 3},  // full-width 3
                                         CountRow{" 2", 2}, CountRow{"2x", 2},
                                         CountRow{"-99999999999", 0}));

TEST(OneKeyRun, MasterNameComesFromTheSelectedItemValue) {
    for (auto [index, name] : std::vector<std::pair<int32_t, std::string>>{
             {0, "MEmu"}, {3, "MEmu_3"}, {5, "MEmu_5"}, {-1, "MEmu_-1"}}) {
        FakeHost host;
        host.selected = index;
        host.count_text = "2";
        Dirs dirs;
        RunOneKey(host, dirs.ref());
        ASSERT_EQ(host.commands.size(), 3u);
        for (const auto& line : host.commands) {
            EXPECT_NE(line.find(" " + name + " "), std::string::npos) << line;
        }
    }
}

TEST(OneKeyRun, FailuresAreLoggedWithTheWholeOutputAndTheRunGoesOn) {
    FakeHost host;
    host.selected = -1;
    host.count_text = "2";
    host.reply = [](const std::string&) {
        return std::optional<std::string>("error: no VM \"MEmu_-1\"\r\n");
    };
    Dirs dirs;
    RunOneKey(host, dirs.ref());
    EXPECT_EQ(host.commands.size(), 3u);
    const std::vector<std::string> expected_log = {
        "设置母盘失败！\r\n",     "error: no VM \"MEmu_-1\"\r\n\r\n",
        "快照设置失败！\r\n",     "error: no VM \"MEmu_-1\"\r\n\r\n",
        "快照设置失败！\r\n",     "error: no VM \"MEmu_-1\"\r\n\r\n",
        "-------完成--------\r\n"};
    EXPECT_EQ(host.log, expected_log);
}

TEST(OneKeyRun, EmptyOutputFailureStillAppendsALineEnd) {
    FakeHost host;
    host.count_text = "0";
    host.reply = [](const std::string&) { return std::optional<std::string>(""); };
    Dirs dirs;
    RunOneKey(host, dirs.ref());
    EXPECT_EQ(host.log,
              (std::vector<std::string>{"设置母盘失败！\r\n", "\r\n", "-------完成--------\r\n"}));
}

TEST(OneKeyRun, SuccessWordsArePlainSubstrings) {
    FakeHost host;
    host.count_text = "1";
    host.reply = [](const std::string&) {
        return std::optional<std::string>("error: not taken, unsuccessfully");
    };
    Dirs dirs;
    RunOneKey(host, dirs.ref());
    EXPECT_EQ(host.log[0], "设置母盘成功！\r\n");
    EXPECT_EQ(host.log[1], "快照设置成功：MEmu_101\r\n");
}

TEST(OneKeyRun, StopRequestEndsTheRunAfterTheCurrentCommand) {
    FakeHost host;
    host.count_text = "10";
    host.stop_after_commands = 3;  // snapshot + two clones, then the user asks to stop
    Dirs dirs;
    RunOneKey(host, dirs.ref());
    EXPECT_EQ(host.commands.size(), 3u);
    ASSERT_GE(host.log.size(), 2u);
    EXPECT_EQ(host.log[host.log.size() - 2], kStoppedLine);
    EXPECT_EQ(host.log.back(), "-------完成--------\r\n");
}

TEST(OneKeyRun, AbandonedCommandEndsTheRunWithoutJudgingIt) {
    FakeHost host;
    host.count_text = "5";
    host.reply = [](const std::string& line) -> std::optional<std::string> {
        if (line.find("MEmu_102") != std::string::npos) return std::nullopt;  // hung, stopped
        return line.find("snapshot ") != std::string::npos ? "taken" : "successfully";
    };
    Dirs dirs;
    RunOneKey(host, dirs.ref());
    EXPECT_EQ(host.commands.size(), 3u);
    const std::vector<std::string> expected_log = {"设置母盘成功！\r\n",
                                                   "快照设置成功：MEmu_101\r\n", kAbandonedLine,
                                                   kStoppedLine, "-------完成--------\r\n"};
    EXPECT_EQ(host.log, expected_log);
}

TEST(OneKeyRun, EmptyInstallDirectoryIsRediscoveredOnce) {
    FakeHost host;
    host.count_text = "1";
    Dirs dirs;
    dirs.install.clear();
    RunOneKey(host, dirs.ref());
    EXPECT_EQ(host.discoveries, 1);
    EXPECT_EQ(dirs.install, "D:\\Emu\\MEmu\\");
    EXPECT_EQ(dirs.tools, "D:\\Emu\\MEmuHyperv\\");

    FakeHost nothing;
    nothing.discovered.clear();
    Dirs empty;
    empty.install.clear();
    RunOneKey(nothing, empty.ref());
    EXPECT_EQ(empty.tools, "MEmuHyperv\\");
    EXPECT_EQ(nothing.directories_at_run.front(), "MEmuHyperv\\");
}

TEST(CloneCommands, ToolsDirectoryIsCutBeforeTheFirstMEmu) {
    EXPECT_EQ(ToolsDirectoryFor("D:\\Emu\\MEmu\\"), "D:\\Emu\\MEmuHyperv\\");
    EXPECT_EQ(ToolsDirectoryFor("D:\\MEmuData\\Emu\\MEmu\\"), "D:\\MEmuHyperv\\");
    EXPECT_EQ(ToolsDirectoryFor("D:\\Emu\\"), "MEmuHyperv\\");
    EXPECT_EQ(ToolsDirectoryFor(""), "MEmuHyperv\\");
    // A GBK character whose trail byte is 'M' does not start a match.
    EXPECT_EQ(ToolsDirectoryFor("D:\\\xB1MEmu\\x\\MEmu\\"), "D:\\\xB1MEmu\\x\\MEmuHyperv\\");
}

TEST(CloneCommands, CloneNumbersAndUuids) {
    EXPECT_EQ(CloneNumber(1), "101");
    EXPECT_EQ(CloneNumber(899), "999");
    EXPECT_EQ(CloneNumber(900), "1000");
    EXPECT_NE(CloneCommand("MEmu", "999").find("--name=\"MEmu_999\""), std::string::npos);
    EXPECT_NE(CloneCommand("MEmu", "999").find("{20200716-dddd-dddd-dddd-000000000999}"),
              std::string::npos);
    EXPECT_NE(CloneCommand("MEmu", "1000").find("{20200716-dddd-dddd-dddd-0000000001000}"),
              std::string::npos);

    // Padded uuids: the same line as the window's for 101 to 999, a 12-digit group beyond.
    struct Row {
        const char* number;
        const char* uuid;
    };
    const Row rows[] = {{"1", "{20200716-dddd-dddd-dddd-000000000001}"},
                        {"101", "{20200716-dddd-dddd-dddd-000000000101}"},
                        {"1000", "{20200716-dddd-dddd-dddd-000000001000}"},
                        {"999999999999", "{20200716-dddd-dddd-dddd-999999999999}"}};
    for (const Row& row : rows) {
        const std::string line = CloneCommand("MEmu_2", row.number, /*pad_uuid=*/true);
        EXPECT_NE(line.find(std::string("--name=\"MEmu_") + row.number + "\""), std::string::npos);
        EXPECT_EQ(line.substr(line.rfind('{')), row.uuid) << row.number;
    }
    EXPECT_EQ(CloneCommand("MEmu", "999", true), CloneCommand("MEmu", "999"));
    EXPECT_EQ(CloneNumberAt({}, 1), "101");
    EXPECT_EQ(CloneNumberAt({121, true}, 20), "140");
}

TEST(OneKeyRun, NumberingFromAFirstNumberReportsEveryStep) {
    FakeHost host;
    host.count_text = "2";
    host.reply = [](const std::string& line) -> std::optional<std::string> {
        if (line.find("MEmu_122") != std::string::npos) return std::nullopt;  // abandoned
        return line.find("snapshot ") != std::string::npos ? "no\r\n" : "successfully\r\n";
    };
    Dirs dirs;
    RunOneKey(host, dirs.ref(), {{121, true}});

    ASSERT_EQ(host.steps.size(), 3u);
    EXPECT_FALSE(host.steps[0].ok);
    EXPECT_TRUE(host.steps[1].ok);
    EXPECT_NE(host.steps[1].line.find("--name=\"MEmu_121\""), std::string::npos);
    EXPECT_FALSE(host.steps[2].has_output);
    EXPECT_EQ(host.log[2], "快照设置成功：MEmu_121\r\n");
    EXPECT_EQ(host.log.back(), "-------完成--------\r\n");
}

}  // namespace
