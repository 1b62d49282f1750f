// The one-key run end to end: the program's window, its click handler, the command runner and
// the simulated emulator, checked through the emulator's journal and the text of the log box.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/app_driver.h"
#include "support/sim_install.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

#include <tlhelp32.h>

namespace {

const std::string kDone = "-------完成--------\r\n";

// Ends the tool processes a hung-tool test leaves behind (the program never ends a child).
void EndProcessesNamed(const wchar_t* name) {
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (lstrcmpiW(entry.szExeFile, name) != 0) continue;
        UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
        if (process) TerminateProcess(process.get(), 1);
    }
}

std::string CloneLine(int number) {
    std::string n = std::to_string(number);
    return "MEmuManage.exe clonevm MEmu --name=\"MEmu_" + n +
           "\" --register --snapshot=\"SnapshotTest\" --options=Link --options=keepdisknames "
           "--uuid={20200716-dddd-dddd-dddd-000000000" +
           n + "}";
}

class OneKeyRun : public testing::Test {
protected:
    void SetUp() override { Install(3); }
    void TearDown() override {
        app_.reset();
        EndProcessesNamed(L"MEmuManage.exe");
        StopSimulatedVms(root_);
        DeleteInstallLocationValue();
    }
    void Install(int vms) {
        vms_ = vms;
        root_ = MakeTempFolder("一键");
        ASSERT_FALSE(InstallSimulatedEmulator(root_, vms).empty());
    }
    void StartApp() {
        app_ = std::make_unique<AppDriver>();
        ASSERT_TRUE(app_->Start(vms_));
        ClearSimJournal(root_);  // start-up listing is not part of the run
    }
    // Lines the run sent to MEmuManage.exe, in order.
    std::vector<std::string> ManageLines() {
        std::vector<std::string> lines;
        for (const auto& line : SimJournalLines(root_))
            if (line.rfind("MEmuManage.exe ", 0) == 0) lines.push_back(line);
        return lines;
    }
    size_t CloneCount() {
        size_t n = 0;
        for (const auto& line : ManageLines()) n += line.find(" clonevm ") != std::string::npos;
        return n;
    }
    std::string RunAndWait(const std::string& count) {
        app_->SetText(AppControl::kCount, count);
        const size_t before = app_->Text(AppControl::kLog).size();
        app_->Click(AppControl::kOneKey);
        EXPECT_TRUE(app_->WaitForLogEnding(kDone, 60000, before));
        return app_->Text(AppControl::kLog);
    }

    // Starts a run of `count` clones and waits until `clones` clone commands were issued.
    void StartRunUntilClones(const std::string& count, size_t clones) {
        app_->SetText(AppControl::kCount, count);
        app_->Click(AppControl::kOneKey);
        ASSERT_TRUE(WaitUntil([&] { return CloneCount() >= clones; }, 30000));
    }
    // Clicks 一键生成快照 again during the run and answers the stop question.
    void ClickAgainAndAnswer(int answer) {
        app_->Click(AppControl::kOneKey);
        HWND box = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return (box = app_->FindMessageBox()) != nullptr; }, 10000));
        PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(answer), 0);
    }

    std::string root_;
    int vms_ = 0;
    std::unique_ptr<AppDriver> app_;
};

TEST_F(OneKeyRun, ThreeClonesOfTheFirstVmAreIssuedInOrderAndLogged) {
    StartApp();
    std::string log = RunAndWait("3");
    const std::vector<std::string> expected = {"MEmuManage.exe snapshot MEmu take \"SnapshotTest\"",
                                               CloneLine(101), CloneLine(102), CloneLine(103)};
    EXPECT_EQ(ManageLines(), expected);
    const std::string tail =
        "设置母盘成功！\r\n快照设置成功：MEmu_101\r\n快照设置成功：MEmu_102\r\n"
        "快照设置成功：MEmu_103\r\n" +
        kDone;
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
    // No manager console build is bundled in the test build: said once, file left alone.
    EXPECT_NE(log.find("7.2.2"), std::string::npos);

    // A refresh lists the clones.
    app_->Click(AppControl::kRefresh);
    EXPECT_TRUE(WaitUntil([&] { return app_->ComboCount() == 6; }, 20000));
}

TEST_F(OneKeyRun, CountTextDecidesHowManyClonesRun) {
    StartApp();
    const std::vector<std::pair<std::string, size_t>> rows = {
        {"0", 0}, {"-2", 0}, {"abc", 0}, {"３", 3}, {" 2", 2}};
    for (const auto& [text, clones] : rows) {
        ClearSimJournal(root_);
        std::string log = RunAndWait(text);
        EXPECT_EQ(ManageLines().size(), clones + 1) << text;
    }
}

TEST_F(OneKeyRun, MasterIsTheSelectedItem) {
    StartApp();
    app_->SelectCombo(2);
    RunAndWait("1");
    auto lines = ManageLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "MEmuManage.exe snapshot MEmu_2 take \"SnapshotTest\"");
    EXPECT_EQ(lines[1].rfind("MEmuManage.exe clonevm MEmu_2 --name=\"MEmu_101\"", 0), 0u);
}

TEST_F(OneKeyRun, EmptyListNamesMasterMinusOneAndStillIssuesEveryCommand) {
    TearDown();
    Install(0);
    StartApp();
    EXPECT_EQ(app_->ComboCount(), 0);
    std::string log = RunAndWait("2");
    auto lines = ManageLines();
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& line : lines) EXPECT_NE(line.find(" MEmu_-1 "), std::string::npos) << line;
    EXPECT_NE(log.find("设置母盘失败！\r\n"), std::string::npos);
    EXPECT_EQ(log.find("快照设置成功"), std::string::npos);
}

TEST_F(OneKeyRun, FailingSnapshotIsLoggedWithTheToolOutputAndClonesStillRun) {
    SetSimSwitches(root_, "MEmuManage.exe snapshot fail\r\n");
    StartApp();
    std::string log = RunAndWait("2");
    EXPECT_EQ(CloneCount(), 2u);
    size_t failed = log.find("设置母盘失败！\r\n");
    ASSERT_NE(failed, std::string::npos);
    // The tool's own text follows, then one more line end, then the next step's line.
    size_t next = log.find("快照设置", failed);
    ASSERT_NE(next, std::string::npos);
    std::string output = log.substr(failed + std::string("设置母盘失败！\r\n").size(),
                                    next - failed - std::string("设置母盘失败！\r\n").size());
    EXPECT_GE(output.size(), 4u);
    EXPECT_EQ(output.substr(output.size() - 4), "\r\n\r\n");
}

TEST_F(OneKeyRun, SecondClickDuringARunStartsNoSecondRunAndCanStopIt) {
    SetSimSwitches(root_, "MEmuManage.exe clonevm delay=700\r\n");
    StartApp();
    StartRunUntilClones("20", 2);
    ClickAgainAndAnswer(IDYES);
    ASSERT_TRUE(app_->WaitForLogEnding(kDone, 30000));
    std::string log = app_->Text(AppControl::kLog);
    EXPECT_LT(CloneCount(), 20u);
    EXPECT_EQ(ManageLines().front().find(" snapshot "), 14u);
    size_t snapshots = 0;
    for (const auto& line : ManageLines())
        snapshots += line.find(" snapshot ") != std::string::npos;
    EXPECT_EQ(snapshots, 1u);
    EXPECT_NE(log.find("已按要求停止"), std::string::npos);
    // Nothing goes on after the run ended.
    size_t clones = CloneCount();
    Sleep(1500);
    EXPECT_EQ(CloneCount(), clones);
}

TEST_F(OneKeyRun, AnsweringNoLetsTheRunFinish) {
    SetSimSwitches(root_, "MEmuManage.exe clonevm delay=300\r\n");
    StartApp();
    StartRunUntilClones("4", 1);
    ClickAgainAndAnswer(IDNO);
    ASSERT_TRUE(app_->WaitForLogEnding(kDone, 30000));
    EXPECT_EQ(CloneCount(), 4u);
}

TEST_F(OneKeyRun, ClosingTheWindowStopsTheRunAndEndsNormally) {
    SetSimSwitches(root_, "MEmuManage.exe clonevm delay=700\r\n");
    StartApp();
    StartRunUntilClones("20", 2);
    app_->Close();
    EXPECT_EQ(app_->WaitForExit(30000), 0);
    size_t clones = CloneCount();
    EXPECT_LT(clones, 20u);
    Sleep(1500);
    EXPECT_EQ(CloneCount(), clones);  // nothing clones in the background of a closed window
}

TEST_F(OneKeyRun, RefreshDuringARunDoesNotDisturbIt) {
    SetSimSwitches(root_, "MEmuManage.exe clonevm delay=400\r\n");
    StartApp();
    StartRunUntilClones("4", 1);
    app_->Click(AppControl::kRefresh);
    ASSERT_TRUE(app_->WaitForLogEnding(kDone, 30000));
    std::string log = app_->Text(AppControl::kLog);
    EXPECT_EQ(log.find("快照设置失败"), std::string::npos);
    EXPECT_NE(log.find("快照设置成功：MEmu_104\r\n"), std::string::npos);
}

TEST_F(OneKeyRun, StopEndsARunWhoseToolHangs) {
    SetSimSwitches(root_, "MEmuManage.exe clonevm hang\r\n");
    StartApp();
    StartRunUntilClones("5", 1);
    ClickAgainAndAnswer(IDYES);
    ASSERT_TRUE(app_->WaitForLogEnding(kDone, 30000));
    std::string log = app_->Text(AppControl::kLog);
    EXPECT_NE(log.find("当前命令没有结束"), std::string::npos);
    EXPECT_EQ(CloneCount(), 1u);
}

TEST_F(OneKeyRun, ClosingTheWindowWhileAToolHangsEndsTheProgram) {
    SetSimSwitches(root_, "MEmuManage.exe clonevm hang\r\n");
    StartApp();
    StartRunUntilClones("5", 1);
    app_->Close();
    EXPECT_EQ(app_->WaitForExit(30000), 0);
    EXPECT_EQ(CloneCount(), 1u);
}

TEST_F(OneKeyRun, MissingToolIsLoggedWithTheInterpretersMessage) {
    ASSERT_TRUE(DeleteFileW(WideFromGbk(root_ + "MEmuHyperv\\MEmuManage.exe").c_str()));
    StartApp();
    std::string log = RunAndWait("2");
    // Every step fails with cmd.exe's own text, and the run still ends normally.
    size_t failures = 0;
    for (size_t at = log.find("失败！"); at != std::string::npos; at = log.find("失败！", at + 1))
        ++failures;
    EXPECT_EQ(failures, 3u);
    EXPECT_NE(log.find("MEmuManage"), std::string::npos);
}

TEST_F(OneKeyRun, InstallFolderRemovedAfterStartFailsEveryStepAndCompletes) {
    StartApp();
    EndProcessesNamed(L"MEmuHeadless.exe");
    std::string hyperv = root_ + "MEmuHyperv\\";
    for (const char* name : {"MEmuManage.exe", "MEmuHeadless.exe"})
        DeleteFileW(WideFromGbk(hyperv + name).c_str());
    ASSERT_TRUE(RemoveDirectoryW(WideFromGbk(hyperv).c_str()));
    std::string log = RunAndWait("1");
    EXPECT_NE(log.find("设置母盘失败！\r\n"), std::string::npos);
    EXPECT_NE(log.find("快照设置失败！\r\n"), std::string::npos);
}

TEST_F(OneKeyRun, BinaryToolOutputIsLoggedUpToItsFirstZeroByte) {
    SetSimSwitches(root_, "MEmuManage.exe snapshot binary\r\n");
    StartApp();
    std::string log = RunAndWait("0");
    EXPECT_NE(log.find("设置母盘失败！\r\n"), std::string::npos);
}

}  // namespace
