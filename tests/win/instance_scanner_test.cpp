// The running-instance scanner against real processes: copies of tools/test_child.exe named
// MEmuHeadless.exe, started with headless-style command lines.
#include "process/process_source_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/win_test_support.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

// A started copy of the child program; ended when the test is done with it.
class FakeHeadless {
public:
    FakeHeadless(const std::wstring& exe_path, const std::string& command_line) {
        std::wstring line = WideFromGbk(command_line);
        std::vector<wchar_t> writable(line.begin(), line.end());
        writable.push_back(L'\0');
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (CreateProcessW(exe_path.c_str(), writable.data(), nullptr, nullptr, FALSE,
                           CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info)) {
            process_.reset(info.hProcess);
            UniqueHandle thread(info.hThread);
            pid_ = info.dwProcessId;
        }
    }
    ~FakeHeadless() {
        if (!process_) return;
        TerminateProcess(process_.get(), 0);
        WaitForSingleObject(process_.get(), 5000);
    }
    FakeHeadless(const FakeHeadless&) = delete;
    FakeHeadless& operator=(const FakeHeadless&) = delete;

    uint32_t pid() const { return pid_; }

private:
    UniqueHandle process_;
    uint32_t pid_ = 0;
};

class InstanceScannerTest : public testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"scanner_test_" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        CreateDirectoryW((folder_ + L"\\lower").c_str(), nullptr);
        const std::wstring child = WideFromGbk(BinDir() + "test_child.exe");
        ASSERT_TRUE(CopyFileW(child.c_str(), HeadlessPath().c_str(), FALSE));
        ASSERT_TRUE(CopyFileW(child.c_str(), LowerCasePath().c_str(), FALSE));
        // The scans see every process: a headless process left running by another test would
        // change which process answers first.
        for (const ProcessEntry& e : source_.Snapshot()) {
            ASSERT_NE(e.exe_name, "MEmuHeadless.exe") << "left running elsewhere: pid " << e.pid;
        }
    }
    void TearDown() override {
        processes_.clear();
        DeleteFileW(HeadlessPath().c_str());
        DeleteFileW(LowerCasePath().c_str());
        RemoveDirectoryW((folder_ + L"\\lower").c_str());
        RemoveDirectoryW(folder_.c_str());
    }

    std::wstring HeadlessPath() const { return folder_ + L"\\MEmuHeadless.exe"; }
    std::wstring LowerCasePath() const { return folder_ + L"\\lower\\memuheadless.exe"; }

    // Starts a headless process with `arguments` after the program name and, when its command
    // line is meant to be readable, waits until it is; returns its pid.
    uint32_t Start(const std::string& arguments, bool lower_case_name = false,
                   bool readable = true) {
        const std::wstring path = lower_case_name ? LowerCasePath() : HeadlessPath();
        const std::string name = lower_case_name ? "memuheadless.exe" : "MEmuHeadless.exe";
        processes_.push_back(
            std::make_unique<FakeHeadless>(path, name + " " + arguments + " sleep:60000"));
        const uint32_t pid = processes_.back()->pid();
        EXPECT_NE(pid, 0u);
        if (readable) WaitUntilReadable(pid);
        return pid;
    }

    void WaitUntilReadable(uint32_t pid) {
        for (int i = 0; i < 100; ++i) {
            if (!source_.ReadCommandLine(pid).empty()) return;
            Sleep(20);
        }
    }

    WinProcessSource source_;
    std::wstring folder_;
    std::vector<std::unique_ptr<FakeHeadless>> processes_;
};

TEST_F(InstanceScannerTest, ReadsAnotherProcessCommandLineAsGbk) {
    uint32_t pid = Start("--comment MEmu_12 --startvm 逍遥");
    EXPECT_EQ(source_.ReadCommandLine(pid),
              "MEmuHeadless.exe --comment MEmu_12 --startvm 逍遥 sleep:60000");
}

TEST_F(InstanceScannerTest, ReadsOwnCommandLineAndNothingForMissingProcess) {
    EXPECT_EQ(source_.ReadCommandLine(GetCurrentProcessId()), GbkFromWide(GetCommandLineW()));
    EXPECT_EQ(source_.ReadCommandLine(0xFFFFFFF0u), "");
}

TEST_F(InstanceScannerTest, SnapshotListsHeadlessProcessesByFileName) {
    uint32_t pid = Start("--comment MEmu_3 --startvm a");
    auto entries = source_.Snapshot();
    auto found = std::find_if(entries.begin(), entries.end(),
                              [pid](const ProcessEntry& e) { return e.pid == pid; });
    ASSERT_NE(found, entries.end());
    EXPECT_EQ(found->exe_name, "MEmuHeadless.exe");
}

TEST_F(InstanceScannerTest, FindsProcessByVmNumber) {
    uint32_t plain = Start("--comment MEmu --startvm base");
    uint32_t twelve = Start("--comment MEmu_12 --startvm x");
    EXPECT_EQ(FindHeadlessPid(source_, 12), twelve);
    EXPECT_EQ(FindHeadlessPid(source_, 0), plain);
    EXPECT_EQ(FindHeadlessPid(source_, 13), 0u);

    HeadlessProcessIndex index(source_);
    EXPECT_EQ(index.Find(12), twelve);
    EXPECT_EQ(index.Find(0), plain);
    EXPECT_EQ(index.Find(13), 0u);
}

TEST_F(InstanceScannerTest, SameNumberTwiceGivesFirstInSnapshotOrder) {
    uint32_t a = Start("--comment MEmu_7 --startvm a");
    uint32_t b = Start("--comment MEmu_7 --startvm b");
    uint32_t first = 0;
    for (const ProcessEntry& e : source_.Snapshot()) {
        if (e.pid == a || e.pid == b) {
            first = e.pid;
            break;
        }
    }
    ASSERT_NE(first, 0u);
    EXPECT_EQ(FindHeadlessPid(source_, 7), first);
    EXPECT_EQ(HeadlessProcessIndex(source_).Find(7), first);
}

TEST_F(InstanceScannerTest, DifferentlyCasedFileNameIsNeverMatched) {
    uint32_t pid = Start("--comment MEmu_5 --startvm a", true);
    EXPECT_FALSE(source_.ReadCommandLine(pid).empty());
    EXPECT_EQ(FindHeadlessPid(source_, 5), 0u);
}

TEST_F(InstanceScannerTest, VeryLongCommandLineReadsAsEmpty) {
    // 16400 more characters: the length in bytes no longer fits a signed 16-bit number.
    uint32_t pid = Start("--comment MEmu_9 --startvm a " + std::string(16400, 'p'), false, false);
    ASSERT_NE(pid, 0u);
    EXPECT_EQ(source_.ReadCommandLine(pid), "");
    EXPECT_EQ(FindHeadlessPid(source_, 9), 0u);
    EXPECT_EQ(FindHeadlessPid(source_, 0), pid);
}

}  // namespace
