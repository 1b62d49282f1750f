// The running-instance scanner against real processes: copies of tools/test_child.exe (and of
// its build for the other bitness) named MEmuHeadless.exe, started with headless-style command
// lines, and the simulated emulator's own headless process.
#include "process/process_source_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/sim_install.h"
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
    HANDLE handle() const { return process_.get(); }
    bool Ended() const { return WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0; }

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
        DeleteFileW(OtherBitnessPath().c_str());
        RemoveDirectoryW((folder_ + L"\\other").c_str());
        RemoveDirectoryW((folder_ + L"\\lower").c_str());
        RemoveDirectoryW(folder_.c_str());
    }

    std::wstring HeadlessPath() const { return folder_ + L"\\MEmuHeadless.exe"; }
    std::wstring LowerCasePath() const { return folder_ + L"\\lower\\memuheadless.exe"; }
    std::wstring OtherBitnessPath() const { return folder_ + L"\\other\\MEmuHeadless.exe"; }

    // Starts a headless process with `arguments` after the program name and, when its command
    // line is meant to be readable, waits until it is; returns its pid.
    uint32_t Start(const std::string& arguments, bool lower_case_name = false,
                   bool readable = true) {
        const std::wstring path = lower_case_name ? LowerCasePath() : HeadlessPath();
        const std::string name = lower_case_name ? "memuheadless.exe" : "MEmuHeadless.exe";
        return StartProgram(path, name + " " + arguments + " sleep:60000", readable);
    }
    uint32_t StartProgram(const std::wstring& path, const std::string& command_line,
                          bool readable = true) {
        processes_.push_back(std::make_unique<FakeHeadless>(path, command_line));
        const uint32_t pid = processes_.back()->pid();
        EXPECT_NE(pid, 0u);
        if (readable) WaitUntilReadable(pid);
        return pid;
    }

    // Until its command line reads the same twice, 20 ms apart: a process that has only just
    // started may still be setting up its parameters, and a read can then find none.
    void WaitUntilReadable(uint32_t pid) {
        std::string last;
        for (int i = 0; i < 100; ++i) {
            const std::string line = source_.ReadCommandLine(pid);
            if (!line.empty() && line == last) return;
            last = line;
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

// The companion's source asks the system for the whole command line in one call where it
// answers (Windows 8.1 and later; whether this Wine does is printed), else reads it from the
// process's memory; either way the same text.
TEST_F(InstanceScannerTest, QuickSourceReadsEachLineWhole) {
    QuickProcessSource quick;
    const struct {
        const char* name;
        std::string arguments;
    } rows[] = {
        {"plain", "--comment MEmu_7 --startvm x"},
        {"chinese", "--comment MEmu_12 --startvm 逍遥"},
        {"long, past the first answer's room",
         "--comment MEmu_3 --startvm " + std::string(3000, 'a')},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const uint32_t pid = Start(row.arguments);
        const std::string line = "MEmuHeadless.exe " + row.arguments + " sleep:60000";
        EXPECT_EQ(quick.ReadCommandLine(pid), line);
        EXPECT_EQ(quick.ReadCommandLine(pid), line);  // the second time from what it kept
    }
    EXPECT_EQ(quick.ReadCommandLine(GetCurrentProcessId()), GbkFromWide(GetCommandLineW()));
    EXPECT_EQ(quick.ReadCommandLine(0xFFFFFFF0u), "");
    std::printf("one call for a command line: %s\n",
                quick.OneCallAnswers() ? "answered by this system" : "not answered, memory read");
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

// Whether `process` runs under WoW64 (a 32-bit process on 64-bit Windows).
bool IsWow64(HANDLE process) {
    BOOL wow64 = FALSE;
    return IsWow64Process(process, &wow64) && wow64;
}

TEST_F(InstanceScannerTest, FindsSimulatedHeadlessProcessByVmNumber) {
    // The simulated emulator's headless process, of this build's bitness (32-bit beside the
    // i686 build), installed under a Chinese folder name and started with a Chinese VM name.
    const std::string root = MakeTempFolder("扫描");
    ASSERT_FALSE(InstallSimulatedEmulator(root, 5).empty());
    DeleteInstallLocationValue();
    const std::string exe = root + "MEmuHyperv\\MEmuHeadless.exe";
    const std::string line = "\"" + exe + "\" --comment MEmu_4 --startvm 逍遥_4 --vrde config";
    uint32_t pid = StartProgram(WideFromGbk(exe), line);
    ASSERT_NE(pid, 0u);
    EXPECT_EQ(IsWow64(processes_.back()->handle()), IsWow64(GetCurrentProcess()));
    EXPECT_EQ(source_.ReadCommandLine(pid), line);
    EXPECT_EQ(FindHeadlessPid(source_, 4), pid);
    EXPECT_EQ(HeadlessProcessIndex(source_).Find(4), pid);
}

TEST_F(InstanceScannerTest, ReadsProcessOfTheOtherBitness) {
    // Beside the i686 build: a 64-bit process, read through the WoW64 services. Beside the
    // x86_64 build: a 32-bit process.
    const bool this_is_32_bit = sizeof(void*) == 4;
    if (this_is_32_bit && !IsWow64(GetCurrentProcess()))
        GTEST_SKIP() << "32-bit Windows runs no 64-bit process";
    const std::wstring other =
        WideFromGbk(BinDir() + (this_is_32_bit ? "test_child64.exe" : "test_child32.exe"));
    CreateDirectoryW((folder_ + L"\\other").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(other.c_str(), OtherBitnessPath().c_str(), FALSE));
    const std::string line = "MEmuHeadless.exe --comment MEmu_6 --startvm 逍遥 sleep:60000";
    processes_.push_back(std::make_unique<FakeHeadless>(OtherBitnessPath(), line));
    const FakeHeadless& child = *processes_.back();
    WaitUntilReadable(child.pid());
    if (!this_is_32_bit && (child.pid() == 0 || child.Ended()))
        GTEST_SKIP() << "32-bit programs do not run here (no 32-bit Wine)";
    ASSERT_NE(child.pid(), 0u);
    EXPECT_NE(IsWow64(child.handle()), this_is_32_bit);

    if (this_is_32_bit &&
        !GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtWow64QueryInformationProcess64")) {
        // The 64-bit process reads as an unreadable command line.
        EXPECT_EQ(source_.ReadCommandLine(child.pid()), "");
        GTEST_SKIP() << "ntdll.dll has no NtWow64QueryInformationProcess64 (as under 32-bit "
                        "Wine): a 64-bit process's command line cannot be read from here";
    }
    EXPECT_EQ(source_.ReadCommandLine(child.pid()), line);
    EXPECT_EQ(FindHeadlessPid(source_, 6), child.pid());
}

}  // namespace
