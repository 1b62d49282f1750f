// The simulated emulator answers as the program expects from the real tools.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "support/sim_install.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

// Runs "cmd.exe /c <command>" in `folder` with a hidden window; returns stdout and stderr.
std::string RunInFolder(const std::string& folder, const std::string& command) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueHandle read_end, write_end;
    if (!CreatePipe(read_end.put(), write_end.put(), &inherit, 0)) return "<no pipe>";
    SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdOutput = write_end.get();
    startup.hStdError = write_end.get();
    std::wstring line = WideFromGbk("cmd.exe /c " + command);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        WideFromGbk(folder).c_str(), &startup, &info)) {
        return "<not started>";
    }
    UniqueHandle process(info.hProcess), thread(info.hThread);
    write_end.reset();
    std::string output;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(read_end.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        output.append(buffer, got);
    }
    WaitForSingleObject(process.get(), INFINITE);
    return output;
}

bool IsHeadlessProcess(uint32_t pid) {
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == pid) return std::wstring(entry.szExeFile) == L"MEmuHeadless.exe";
    }
    return false;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class SimulatedEmulator : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = MakeTempFolder("emu");
        ASSERT_FALSE(root_.empty());
        install_ = InstallSimulatedEmulator(root_, 3);
        ASSERT_EQ(install_, root_ + "MEmu\\");
        tools_ = root_ + "MEmuHyperv\\";
    }
    void TearDown() override {
        StopSimulatedVms(root_);
        DeleteInstallLocationValue();
    }
    std::string Memuc(const std::string& args) {
        return RunInFolder(install_, "memuc.exe " + args);
    }
    std::string Manage(const std::string& args) {
        return RunInFolder(tools_, "MEmuManage.exe " + args);
    }

    std::string root_, install_, tools_;
};

TEST_F(SimulatedEmulator, ListsItsVmsInFiveFieldsWithCrLf) {
    EXPECT_EQ(Memuc("memuc listvms"), "0,MEmu,0,0,0\r\n1,MEmu_1,0,0,0\r\n2,MEmu_2,0,0,0\r\n");
    ASSERT_EQ(SimJournalLines(root_).size(), 1u);
    EXPECT_EQ(SimJournalLines(root_)[0].rfind("memuc.exe memuc listvms", 0), 0u);
}

TEST_F(SimulatedEmulator, StartLaunchesANamedHeadlessProcessAndStopEndsIt) {
    EXPECT_EQ(Memuc("memuc start -i 2"), "SUCCESS: start vm finished.\r\n");
    std::vector<sim::Vm> vms = SimVms(root_);
    ASSERT_EQ(vms.size(), 3u);
    ASSERT_TRUE(vms[2].started);
    const uint32_t pid = vms[2].pid;
    EXPECT_TRUE(IsHeadlessProcess(pid));

    bool named = false;
    for (const std::string& line : SimJournalLines(root_)) {
        named = named || (line.rfind("MEmuHeadless.exe ", 0) == 0 && Contains(line, "MEmu_2 --"));
    }
    EXPECT_TRUE(named) << SimJournal(root_);

    // The listing shows the window and the process; the window tree answers the walk.
    const std::string listing = Memuc("memuc listvms");
    const size_t at = listing.find("2,MEmu_2,");
    ASSERT_NE(at, std::string::npos) << listing;
    const std::string line = listing.substr(at, listing.find("\r\n", at) - at);
    const size_t window_end = line.find(',', 9);
    const long window = std::stol(line.substr(9, window_end - 9));
    EXPECT_GT(window, 0);
    EXPECT_EQ(line.substr(window_end), ",1," + std::to_string(pid));
    HWND w = reinterpret_cast<HWND>(static_cast<intptr_t>(window));
    HWND walk = GetWindow(w, GW_CHILD);
    walk = GetWindow(walk, GW_HWNDNEXT);
    walk = GetWindow(walk, GW_CHILD);
    walk = GetWindow(walk, GW_CHILD);
    walk = GetWindow(walk, GW_HWNDNEXT);
    walk = GetWindow(walk, GW_HWNDNEXT);
    ASSERT_NE(walk, nullptr);

    EXPECT_EQ(Memuc("memuc isvmrunning -i 2"), "Running\r\n");
    EXPECT_EQ(Memuc("memuc stop -i 2"), "SUCCESS: stop vm finished.\r\n");
    EXPECT_EQ(Memuc("memuc isvmrunning -i 2"), "Not Running\r\n");
    EXPECT_FALSE(IsHeadlessProcess(pid));
    EXPECT_TRUE(Contains(Memuc("memuc listvms"), "2,MEmu_2,0,0,0\r\n"));
}

TEST_F(SimulatedEmulator, IndexZeroRunsUnderTheNameMEmu) {
    EXPECT_EQ(Memuc("memuc start -i 0"), "SUCCESS: start vm finished.\r\n");
    bool named = false;
    for (const std::string& line : SimJournalLines(root_)) {
        named = named || (line.rfind("MEmuHeadless.exe ", 0) == 0 &&
                          Contains(line, "--comment MEmu --") && !Contains(line, "MEmu_"));
    }
    EXPECT_TRUE(named) << SimJournal(root_);
}

struct PhraseCase {
    const char* args;
    const char* expected;  // a part of the reply
};

TEST_F(SimulatedEmulator, MemucAnswersWithItsResultPhrases) {
    const PhraseCase cases[] = {
        {"create 51", "create vm finished.index:3"},
        {"memuc clone -i 1", "SUCCESS: clone vm finished."},
        {"memuc remove -i 4", "SUCCESS: delete vm finished."},
        {"memuc -i 1 rename \"新名字\"", "SUCCESS: "},
        {"memuc listvms", "1,新名字,0,0,0\r\n"},
        {"memuc connect -i 1", "SUCCESS: "},
        {"memuc disconnect -i 1", "SUCCESS: "},
        {"sortwin", "SUCCESS"},
        {"setconfig -i 1 cpus 4", "SUCCESS"},
        {"getconfig -i 1 cpus", "4"},
        {"memuc start -i 1", "SUCCESS: start vm finished."},
        {"memuc reboot -i 1", "SUCCESS: reboot android finished."},
        {"memuc -i 1 execcmd \"getprop ro.serial\"", "getprop ro.serial"},
        {"memuc stopall", "SUCCESS"},
        {"memuc isvmrunning -i 1", "Not Running"},
        {"memuc remove -i 9", "ERROR"},
    };
    for (const PhraseCase& c : cases) {
        EXPECT_TRUE(Contains(Memuc(c.args), c.expected)) << c.args;
    }
    for (const char* failing : {"memuc start -i 9", "memuc stop -i 9", "memuc reboot -i 2"}) {
        const std::string reply = Memuc(failing);
        EXPECT_FALSE(Contains(reply, "SUCCESS")) << failing << ": " << reply;
    }
}

TEST_F(SimulatedEmulator, SnapshotThenLinkedClonesAsTheOneKeyRunSendsThem) {
    const std::string clone =
        "clonevm MEmu --name=\"MEmu_101\" --register --snapshot=\"SnapshotTest\" "
        "--options=Link --options=keepdisknames --uuid={20200716-dddd-dddd-dddd-000000000101}";
    EXPECT_FALSE(Contains(Manage(clone), "successfully"));  // no snapshot yet

    const std::string taken = Manage("snapshot MEmu take \"SnapshotTest\"");
    EXPECT_TRUE(Contains(taken, "Snapshot taken. UUID: ")) << taken;
    EXPECT_TRUE(
        Contains(Manage(clone), "Machine has been successfully cloned as \"MEmu_101\"\r\n"));
    EXPECT_FALSE(Contains(Manage(clone), "successfully"));  // the name is taken now
    EXPECT_TRUE(Contains(Memuc("memuc listvms"), "\r\n101,MEmu_101,0,0,0\r\n"));

    for (const char* master : {"MEmu_-1", "MEmu_7", "memu"}) {
        const std::string reply =
            Manage(std::string("snapshot ") + master + " take \"SnapshotTest\"");
        EXPECT_FALSE(Contains(reply, "taken")) << reply;
        EXPECT_TRUE(Contains(reply, master)) << reply;
    }

    // The journal holds each command line as the tool received it, quotes included.
    const std::vector<std::string> lines = SimJournalLines(root_);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "MEmuManage.exe " + clone);
    EXPECT_EQ(lines[1], "MEmuManage.exe snapshot MEmu take \"SnapshotTest\"");
}

TEST_F(SimulatedEmulator, SwitchesShapeTheReply) {
    SetSimSwitches(root_, "memuc.exe listvms lfonly\r\n");
    EXPECT_EQ(Memuc("memuc listvms"), "0,MEmu,0,0,0\n1,MEmu_1,0,0,0\n2,MEmu_2,0,0,0\n");

    SetSimSwitches(root_, "memuc.exe listvms fail\r\n");
    EXPECT_FALSE(Contains(Memuc("memuc listvms"), ","));

    SetSimSwitches(root_, "memuc.exe listvms huge=100000\r\n");
    EXPECT_EQ(Memuc("memuc listvms").size(), 100000u);

    SetSimSwitches(root_, "memuc.exe listvms binary\r\n");
    const std::string binary = Memuc("memuc listvms");
    ASSERT_EQ(binary.size(), 256u);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(static_cast<unsigned char>(binary[b]), b);

    SetSimSwitches(root_, "MEmuManage.exe snapshot missing\r\n");
    EXPECT_EQ(Manage("snapshot MEmu take \"SnapshotTest\""), "");

    SetSimSwitches(root_, "MEmuManage.exe * fail\r\n");
    EXPECT_FALSE(Contains(Manage("snapshot MEmu take \"SnapshotTest\""), "taken"));

    // A rule for another sub-command leaves this one alone; a delay still answers.
    SetSimSwitches(root_, "memuc.exe start fail\r\nmemuc.exe listvms delay=200\r\n");
    EXPECT_EQ(Memuc("memuc listvms"), "0,MEmu,0,0,0\r\n1,MEmu_1,0,0,0\r\n2,MEmu_2,0,0,0\r\n");
}

TEST_F(SimulatedEmulator, HangNeverAnswers) {
    SetSimSwitches(root_, "memuc.exe listvms hang\r\n");
    std::wstring line = WideFromGbk("\"" + install_ + "memuc.exe\" memuc listvms");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                               nullptr, nullptr, &startup, &info));
    UniqueHandle process(info.hProcess), thread(info.hThread);
    EXPECT_EQ(WaitForSingleObject(process.get(), 1500), static_cast<DWORD>(WAIT_TIMEOUT));
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 5000);
}

TEST_F(SimulatedEmulator, AdbReachesRunningVmsByPort) {
    const std::string local = root_ + "shot.png";
    EXPECT_TRUE(Contains(RunInFolder(install_, "adb.exe -s 127.0.0.1:21513 shell input tap 1 2"),
                         "not found"));
    ASSERT_EQ(Memuc("memuc start -i 1"), "SUCCESS: start vm finished.\r\n");
    EXPECT_EQ(RunInFolder(install_, "adb.exe -s 127.0.0.1:21513 shell input tap 100 200"), "");
    EXPECT_EQ(
        RunInFolder(install_,
                    "adb.exe -s 127.0.0.1:21513 shell /system/bin/screencap -p /sdcard/s1.png"),
        "");
    EXPECT_TRUE(
        Contains(RunInFolder(install_, "adb.exe -s 127.0.0.1:21513 pull /sdcard/s1.png " + local),
                 "1 file pulled"));
    EXPECT_EQ(RunInFolder(install_, "adb.exe -s 127.0.0.1:21513 shell rm /sdcard/s1.png"), "");
    EXPECT_TRUE(Contains(
        RunInFolder(install_, "adb.exe -s 127.0.0.1:21513 pull /sdcard/s1.png " + local), "error"));
    std::string png;
    ASSERT_TRUE(sim::ReadFileBytes(local, &png));
    EXPECT_EQ(png.substr(1, 3), "PNG");
}

}  // namespace
