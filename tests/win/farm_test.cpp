// MEmuFarm.exe end to end against the simulated emulator: what it prints, its exit codes, and
// the command lines the tools received (their journal).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "cli/cmd_escape.h"
#include "install/manager_console.h"
#include "support/sim_install.h"
#include "support/win_test_support.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

struct FarmResult {
    DWORD code = 9999;  // 9999: did not end within the test's limit
    std::string out;
    std::string err;
    ULONGLONG milliseconds = 0;
};

std::string ReadWhole(const std::wstring& path) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (file && ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    return bytes;
}

UniqueFileHandle InheritableFile(const std::wstring& path) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return UniqueFileHandle(CreateFileW(path.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                        0, nullptr));
}

// Runs MEmuFarm.exe (the built one, or the one in `program_dir`) with the arguments (GBK),
// standard output and error into files, so that a tool it leaves running cannot hold the test
// up. It starts in `current_dir` when one is given.
FarmResult RunFarm(const std::vector<std::string>& args, DWORD limit_ms = 60000,
                   const std::string& program_dir = BinDir(),
                   const std::string& current_dir = std::string()) {
    std::string line = "MEmuFarm.exe";
    for (const std::string& arg : args) {
        line += ' ';
        line += cmdline::QuoteArgument(arg);
    }
    std::wstring wide_line = WideFromGbk(line);
    const std::wstring out_path = WideFromGbk(BinDir()) + L"farm-out.txt";
    const std::wstring err_path = WideFromGbk(BinDir()) + L"farm-err.txt";
    FarmResult result;
    {
        UniqueFileHandle out = InheritableFile(out_path);
        UniqueFileHandle err = InheritableFile(err_path);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.get();
        startup.hStdError = err.get();
        PROCESS_INFORMATION info = {};
        const std::wstring exe = WideFromGbk(program_dir + "MEmuFarm.exe");
        const std::wstring folder = WideFromGbk(current_dir);
        const ULONGLONG start = GetTickCount64();
        if (!CreateProcessW(exe.c_str(), wide_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                            nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &info))
            return result;
        UniqueHandle process(info.hProcess), thread(info.hThread);
        if (WaitForSingleObject(process.get(), limit_ms) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.get(), &result.code);
        result.milliseconds = GetTickCount64() - start;
    }
    result.out = ReadWhole(out_path);
    result.err = ReadWhole(err_path);
    return result;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class FarmTest : public testing::Test {
protected:
    void SetUp() override {
        root_ = MakeTempFolder("farm");
        ASSERT_FALSE(InstallSimulatedEmulator(root_, 3).empty());
    }
    void TearDown() override {
        StopSimulatedVms(root_);
        DeleteInstallLocationValue();
    }
    std::string LastJournalLine() {
        const std::vector<std::string> lines = SimJournalLines(root_);
        return lines.empty() ? std::string() : lines.back();
    }

    std::string root_;
};

TEST_F(FarmTest, ListShowsRunningVmsWithTheirHeadlessProcesses) {
    ASSERT_EQ(RunFarm({"start", "2", "--wait"}).code, 0u);
    const uint32_t pid = SimVms(root_).at(2).pid;
    ASSERT_NE(pid, 0u);

    // A Chinese title reaches memuc as GBK and comes back in the JSON as UTF-8.
    ASSERT_EQ(RunFarm({"rename", "2", "逍遥 二号"}).code, 0u);
    EXPECT_EQ(LastJournalLine(), "memuc.exe memuc -i 2 rename \"逍遥 二号\"");
    const std::string utf8_title = reinterpret_cast<const char*>(u8"逍遥 二号");

    const FarmResult json = RunFarm({"--json", "list"});
    EXPECT_EQ(json.code, 0u) << json.err;
    EXPECT_TRUE(Contains(json.out, R"({"index":2,"title":")" + utf8_title + R"(","window":)"))
        << json.out;
    EXPECT_TRUE(Contains(json.out, R"("started":true,"pid":)" + std::to_string(pid) +
                                       R"(,"headless_pid":)" + std::to_string(pid) + "}"))
        << json.out;
    EXPECT_FALSE(Contains(json.out, R"("inner_window":0,"started":true)")) << json.out;

    const FarmResult text = RunFarm({"list"});
    EXPECT_EQ(text.code, 0u);
    EXPECT_EQ(text.out.rfind("index  title", 0), 0u) << text.out;
    EXPECT_TRUE(Contains(text.out, "yes      " + std::to_string(pid))) << text.out;
}

TEST_F(FarmTest, CloneSendsTheWindowsLinesAndContinuesFromFirst) {
    auto clone_line = [](const std::string& n) {
        return "MEmuManage.exe clonevm MEmu --name=\"MEmu_" + n +
               "\" --register --snapshot=\"SnapshotTest\" --options=Link "
               "--options=keepdisknames --uuid={20200716-dddd-dddd-dddd-000000000" +
               n + "}";
    };
    const std::string snapshot = "MEmuManage.exe snapshot MEmu take \"SnapshotTest\"";

    const FarmResult dry = RunFarm({"clone", "--master", "0", "--count", "2", "--dry-run"});
    EXPECT_EQ(dry.code, 0u);
    EXPECT_TRUE(Contains(dry.out, clone_line("102")));
    EXPECT_TRUE(SimJournalLines(root_).empty()) << SimJournal(root_);

    EXPECT_EQ(RunFarm({"clone", "--master", "0", "--count", "2"}).code, 0u);
    EXPECT_EQ(RunFarm({"clone", "--master", "0", "--count", "2", "--first", "103"}).code, 0u);
    EXPECT_EQ(SimJournalLines(root_),
              (std::vector<std::string>{snapshot, clone_line("101"), clone_line("102"), snapshot,
                                        clone_line("103"), clone_line("104")}));

    // Clones 101 and 102 exist now: a second batch from 101 fails every clone.
    const FarmResult again = RunFarm({"--json", "clone", "--master", "0", "--count", "1"});
    EXPECT_EQ(again.code, 1u);
    EXPECT_TRUE(Contains(again.out, R"({"ok":false,"master":"MEmu")")) << again.out;
}

TEST_F(FarmTest, EachRunModeOfTheControlVerbs) {
    // Captured: the result phrase decides.
    EXPECT_EQ(RunFarm({"remove", "2"}).code, 0u);
    EXPECT_EQ(LastJournalLine(), "memuc.exe memuc remove -i 2");
    EXPECT_EQ(RunFarm({"remove", "2"}).code, 1u);

    // Captured with a time-out: memuc answers only after 4 s, the wait ends after 1 s. (It then
    // fails rather than start a VM after the test has ended.)
    SetSimSwitches(root_, "memuc.exe start delay=4000\r\nmemuc.exe start fail\r\n");
    const FarmResult timed = RunFarm({"start", "1", "--wait", "--timeout", "1000"});
    EXPECT_EQ(timed.code, 1u);
    EXPECT_LT(timed.milliseconds, 3500u);

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
    EXPECT_TRUE(Contains(lost.out, R"({"ok":false,"error":"not_found")")) << lost.out;

    // The hung tool is left running; the program ends soon after the deadline.
    SetSimSwitches(root_, "memuc.exe listvms hang\r\n");
    const FarmResult hung =
        RunFarm({"--install-dir", root_ + "MEmu", "--deadline", "2", "list"}, 20000);
    EXPECT_EQ(hung.code, 4u);
    EXPECT_LT(hung.milliseconds, 8000u);
    EXPECT_TRUE(Contains(hung.err, "waiting for: memuc.exe memuc listvms")) << hung.err;
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
        return "\"message\":\"" + Utf8FromWide(WideFromGbk(line.substr(0, line.size() - 2))) + "\"";
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
    std::string bytes;
    EXPECT_TRUE(sim::ReadFileBytes(console, &bytes) && bytes == "the old manager");
}

struct TextRow {
    const char* text;
    int code;
};

class FarmTextTest : public FarmTest, public testing::WithParamInterface<TextRow> {};

// A text reaches adb as one piece of its command line and never starts anything else.
TEST_P(FarmTextTest, TextsReachTheToolAsGiven) {
    const TextRow& row = GetParam();
    const FarmResult result = RunFarm({"text", "1", row.text});
    EXPECT_EQ(result.code, static_cast<DWORD>(row.code)) << result.err;
    EXPECT_FALSE(Contains(result.out, "INJECTED")) << result.out;
    if (row.code == 0) {
        EXPECT_EQ(LastJournalLine(),
                  std::string("adb.exe -s 127.0.0.1:21513 shell input text ") + row.text);
    } else {
        EXPECT_TRUE(SimJournalLines(root_).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, FarmTextTest,
                         testing::Values(TextRow{"a&echo INJECTED", 0}, TextRow{"a|echo b", 0},
                                         TextRow{"a<b", 0}, TextRow{"a>b", 0}, TextRow{"a^b", 0},
                                         TextRow{"(a)", 0}, TextRow{"say\"&echo INJECTED", 0},
                                         TextRow{"100%", 0}, TextRow{"a!b!", 0},
                                         TextRow{"中文&文字", 0}, TextRow{"%PATH%", 2}));

}  // namespace
