// The simulated emulator answers as the program expects from the real tools.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/sim_install.h"
#include "win/system_function.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

struct Ran {
    std::string out;  // standard output and error
    DWORD code = 9999;
};

// Runs the command line in `folder` with a hidden window.
Ran RunLine(const std::string& folder, const std::string& command) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueHandle read_end, write_end;
    if (!CreatePipe(read_end.put(), write_end.put(), &inherit, 0)) return {"<no pipe>"};
    SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdOutput = write_end.get();
    startup.hStdError = write_end.get();
    std::wstring line = WideFromGbk(command);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        WideFromGbk(folder).c_str(), &startup, &info)) {
        return {"<not started>"};
    }
    UniqueHandle process(info.hProcess), thread(info.hThread);
    write_end.reset();
    Ran ran;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(read_end.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        ran.out.append(buffer, got);
    }
    WaitForSingleObject(process.get(), INFINITE);
    GetExitCodeProcess(process.get(), &ran.code);
    return ran;
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

// What a process has used, from the system's process list: under Wine, GetProcessTimes and
// GetProcessMemoryInfo read 0 for another process's CPU time and private bytes.
struct ProcessUse {
    uint64_t cpu_100ns = 0;  // user and kernel time
    uint64_t private_bytes = 0;
};

ProcessUse UseOf(uint32_t pid) {
    using Query = NTSTATUS(WINAPI*)(SYSTEM_INFORMATION_CLASS, void*, ULONG, ULONG*);
    static SystemFunction<Query> query("ntdll.dll", "NtQuerySystemInformation");
    std::vector<unsigned char> list(1 << 20);
    ULONG needed = 0;
    NTSTATUS status;
    while ((status = query.Get()(SystemProcessInformation, list.data(),
                                 static_cast<ULONG>(list.size()), &needed)) ==
           static_cast<NTSTATUS>(0xC0000004L)) {  // STATUS_INFO_LENGTH_MISMATCH
        list.resize(std::max<size_t>(needed, list.size() * 2));
    }
    for (size_t at = 0; status >= 0;) {
        const auto* entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(list.data() + at);
        if (reinterpret_cast<uintptr_t>(entry->UniqueProcessId) == pid) {
            return {static_cast<uint64_t>(entry->UserTime.QuadPart + entry->KernelTime.QuadPart),
                    entry->VirtualMemoryCounters.PagefileUsage};
        }
        if (entry->NextEntryOffset == 0) break;
        at += entry->NextEntryOffset;
    }
    return {};
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
    // The tools are started directly: Wine's cmd.exe now and then fails to start a tool
    // and still exits 0, which would read as an empty reply here.
    Ran MemucCall(const std::string& args) {
        return RunLine(install_, "\"" + install_ + "memuc.exe\" " + args);
    }
    std::string Memuc(const std::string& args) { return MemucCall(args).out; }
    Ran ManageCall(const std::string& args) {
        return RunLine(tools_, "\"" + tools_ + "MEmuManage.exe\" " + args);
    }
    std::string Manage(const std::string& args) { return ManageCall(args).out; }
    Ran Adb(const std::string& args) {
        return RunLine(install_, "\"" + install_ + "adb.exe\" " + args);
    }
    std::string Typed() {
        std::string text;
        sim::ReadFileBytes(root_ + sim::kTypedFile, &text);
        return text;
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
    const uint64_t a_minute = 600000000;
    EXPECT_LE(vms[2].started_at, sim::FileTimeNow());
    EXPECT_GT(vms[2].started_at, sim::FileTimeNow() - a_minute);

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
    EXPECT_EQ(SimVms(root_)[2].started_at, 0u);
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
    DWORD code;            // 1 exactly when the reply begins with "ERROR"
};

// Runs in order on one installation; VM 1 runs from "start" to "stopall".
TEST_F(SimulatedEmulator, MemucAnswersWithItsResultPhrasesAndExitCodes) {
    ASSERT_TRUE(sim::WriteFileBytes(install_ + "My Game.APK", "apk"));
    const PhraseCase cases[] = {
        {"create 51", "create vm finished.index:3", 0},
        {"memuc clone -i 1", "SUCCESS: clone vm finished.", 0},
        {"memuc remove -i 4", "SUCCESS: delete vm finished.", 0},
        {"memuc -i 1 rename \"新名字\"", "SUCCESS: ", 0},
        {"memuc listvms", "1,新名字,0,0,0\r\n", 0},
        {"memuc connect -i 1", "SUCCESS: ", 0},
        {"memuc disconnect -i 1", "SUCCESS: ", 0},
        {"sortwin", "SUCCESS", 0},
        {"setconfig -i 1 cpus \"4 -i 3\"", "SUCCESS", 0},
        {"getconfig -i 1 cpus", "Value: 4 -i 3\r\n", 0},
        {"memuc randomize -i 1", "SUCCESS: randomize vm finished.", 0},
        {"memuc input -i 1 \"x\"", "ERROR", 1},  // not running
        {"memuc start -i 1", "SUCCESS: start vm finished.", 0},
        {"memuc reboot -i 1", "SUCCESS: reboot android finished.", 0},
        {"memuc -i 1 execcmd \"getprop ro.serial\"", "getprop ro.serial", 0},
        {"memuc input -i 1 \"a b -i 2\"", "SUCCESS: input text finished.", 0},
        {"memuc input -i 1 a b", "ERROR", 1},
        {"memuc setgps -i 1 180 -90", "SUCCESS: set gps finished.", 0},
        {"memuc setgps -i 1 -180.0 90.000", "SUCCESS", 0},
        {"memuc setgps -i 1 180.01 0", "ERROR", 1},
        {"memuc setgps -i 1 0 -90.5", "ERROR", 1},
        {"memuc setgps -i 1 1e2 0", "ERROR", 1},
        {"memuc setgps -i 1 12.5", "ERROR", 1},
        {"getconfig -i 1 gps", "Value: -180.0,90.000\r\n", 0},
        {"memuc rotate -i 1", "SUCCESS: rotate vm finished.", 0},
        {"getconfig -i 1 orientation", "Value: landscape\r\n", 0},
        {"memuc rotate -i 1", "SUCCESS", 0},
        {"getconfig -i 1 orientation", "Value: portrait\r\n", 0},
        {"memuc installapp -i 1 \"no such.apk\"", "ERROR", 1},
        {"memuc installapp -i 1 \"My Game.APK\"", "SUCCESS: installapp finished.", 0},
        {"memuc installapp -i 1 -p com.example.b", "SUCCESS", 0},
        {"memuc getappinfolist -i 1", "com.sim.my_game\r\ncom.example.b\r\n", 0},
        {"memuc uninstallapp -i 1 com.example.b", "SUCCESS", 0},
        {"memuc uninstallapp -i 1 com.example.b", "ERROR", 1},
        {"memuc export -i 1 vm1.ova", "SUCCESS: export vm finished.", 0},
        {"memuc export -i 1 \"no folder\\vm1.ova\"", "ERROR", 1},
        {"memuc stopall", "SUCCESS", 0},
        {"memuc isvmrunning -i 1", "Not Running", 0},
        {"memuc import vm1.ova", "SUCCESS: import vm finished.index:4", 0},
        {"memuc import no-such.ova", "ERROR", 1},
        {"memuc listvms", "4,新名字,0,0,0\r\n", 0},
        {"memuc remove -i 9", "ERROR", 1},
        {"memuc start -i 9", "ERROR", 1},
        {"memuc stop -i 9", "ERROR", 1},
        {"memuc reboot -i 2", "ERROR", 1},
        {"memuc frobnicate -i 2", "ERROR", 1},
    };
    for (const PhraseCase& c : cases) {
        const Ran ran = MemucCall(c.args);
        EXPECT_TRUE(Contains(ran.out, c.expected)) << c.args << ": " << ran.out;
        EXPECT_EQ(ran.code, c.code) << c.args;
    }
    EXPECT_EQ(Typed(), "1\ta b -i 2\r\n");
    // The import is a copy with its own uuid and identity, and the exported VM's apps.
    const std::vector<sim::Vm> vms = SimVms(root_);
    ASSERT_EQ(vms.size(), 5u);
    EXPECT_EQ(vms[4].apps, std::vector<std::string>{"com.sim.my_game"});
    EXPECT_EQ(vms[4].identity.size(), 15u);
    EXPECT_NE(vms[4].identity, vms[1].identity);
    EXPECT_NE(vms[4].uuid, vms[1].uuid);
}

TEST_F(SimulatedEmulator, SnapshotThenLinkedClonesAsTheOneKeyRunSendsThem) {
    const std::string clone =
        "clonevm MEmu --name=\"MEmu_101\" --register --snapshot=\"SnapshotTest\" "
        "--options=Link --options=keepdisknames --uuid={20200716-dddd-dddd-dddd-000000000101}";
    EXPECT_FALSE(Contains(Manage(clone), "successfully"));  // no snapshot yet

    const std::string taken = Manage("snapshot MEmu take \"SnapshotTest\"");
    EXPECT_TRUE(Contains(taken, "Snapshot taken. UUID: ")) << taken;
    const Ran cloned = ManageCall(clone);
    EXPECT_TRUE(Contains(cloned.out, "Machine has been successfully cloned as \"MEmu_101\"\r\n"));
    EXPECT_EQ(cloned.code, 0u);
    const Ran again = ManageCall(clone);  // the name is taken now
    EXPECT_FALSE(Contains(again.out, "successfully"));
    EXPECT_EQ(again.code, 1u);
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

    // A second take of the name adds a snapshot with its own uuid.
    const std::string second = Manage("snapshot MEmu take \"SnapshotTest\"");
    ASSERT_EQ(Memuc("memuc randomize -i 0"), "SUCCESS: randomize vm finished.\r\n");
    const sim::Vm master = SimVms(root_)[0];
    ASSERT_EQ(master.snapshots.size(), 2u);
    const sim::Snapshot first = master.snapshots[0];
    const sim::Snapshot latest = master.snapshots[1];
    EXPECT_EQ(latest.name, "SnapshotTest");
    EXPECT_NE(first.uuid, latest.uuid);
    EXPECT_TRUE(Contains(taken, "UUID: " + first.uuid + "\r\n")) << taken;
    EXPECT_TRUE(Contains(second, "UUID: " + latest.uuid + "\r\n")) << second;
    EXPECT_EQ(SimVms(root_).back().from, first.uuid);  // MEmu_101

    // A name picks the first snapshot of that name, a uuid the one it names. A linked clone
    // records its source and carries its master's identity.
    struct CloneRow {
        const char* name;
        std::string snapshot;
        std::string from;  // empty: refused
    };
    const CloneRow rows[] = {
        {"name", "\"SnapshotTest\"", first.uuid},
        {"uuid in braces", "{" + latest.uuid + "}", latest.uuid},
        {"bare uuid", latest.uuid, latest.uuid},
        {"unknown name", "Other", ""},
        {"unknown uuid", "{5e1a0c3d-0000-4000-8000-000000000000}", ""},
    };
    int number = 102;
    for (const CloneRow& row : rows) {
        const Ran ran = ManageCall("clonevm MEmu --name=MEmu_" + std::to_string(number) +
                                   " --register --snapshot=" + row.snapshot + " --options=Link");
        EXPECT_EQ(ran.code, row.from.empty() ? 1u : 0u) << row.name << ": " << ran.out;
        if (row.from.empty()) continue;
        const sim::Vm made = SimVms(root_).back();
        EXPECT_EQ(made.index, number) << row.name;
        EXPECT_EQ(made.from, row.from) << row.name;
        EXPECT_EQ(made.identity, master.identity) << row.name;
        ++number;
    }
}

TEST_F(SimulatedEmulator, StateLinesOfSevenFieldsStillLoad) {
    ASSERT_TRUE(sim::WriteFileBytes(root_ + sim::kStateFile,
                                    "0\tMEmu\t0\t0\t\tfirst;second\tcpus=2\r\n"
                                    "1\tMEmu_1\t0\t0\t\t\t\r\n"));
    const std::vector<sim::Vm> vms = SimVms(root_);
    ASSERT_EQ(vms.size(), 2u);
    ASSERT_EQ(vms[0].snapshots.size(), 2u);
    EXPECT_EQ(vms[0].snapshots[1].name, "second");
    EXPECT_NE(vms[0].snapshots[0].uuid, vms[0].snapshots[1].uuid);
    EXPECT_EQ(SimVms(root_)[0].snapshots[1].uuid, vms[0].snapshots[1].uuid);  // on every read
    EXPECT_EQ(vms[0].config.size(), 1u);
    EXPECT_EQ(vms[0].from, "");
    EXPECT_EQ(vms[0].started_at, 0u);
    EXPECT_EQ(vms[0].identity, "");
    EXPECT_TRUE(vms[0].apps.empty());

    ASSERT_EQ(ManageCall("clonevm MEmu --name=MEmu_101 --snapshot=second").code, 0u);
    EXPECT_EQ(SimVms(root_).back().from, vms[0].snapshots[1].uuid);

    // Every field is read back where it was written.
    sim::Vm full;
    full.index = 7;
    full.title = "七号";
    full.uuid = sim::NewUuid();
    full.snapshots = {{sim::NewUuid(), "a"}, {sim::NewUuid(), "a"}};
    full.config = {{"cpus", "2"}, {"gps", "1.5,2"}};
    full.from = sim::NewUuid();
    full.started_at = 133000000000000000;
    full.identity = sim::NewIdentity();
    full.apps = {"com.a", "com.b"};
    WriteSimVms(root_, {full});
    EXPECT_EQ(sim::FormatState(SimVms(root_)), sim::FormatState({full}));
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

    // A rule with a fourth word, a VM index, counts only for that VM.
    SetSimSwitches(root_, "memuc.exe * fail 1\r\nMEmuManage.exe snapshot fail 2\r\n");
    EXPECT_EQ(MemucCall("getconfig -i 1 cpus").code, 1u);
    EXPECT_EQ(Memuc("getconfig -i 2 cpus"), "Value: \r\n");
    EXPECT_FALSE(Contains(Manage("snapshot MEmu_2 take s"), "taken"));
    EXPECT_TRUE(Contains(Manage("snapshot MEmu_1 take s"), "taken"));

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

struct AdbRow {
    std::string args;
    const char* part;  // a part of the reply; empty: no reply at all
    DWORD code;
};

TEST_F(SimulatedEmulator, AdbReachesRunningVmsByPortWithExitCodes) {
    const std::string local = root_ + "shot.png";
    const std::string vm1 = "-s 127.0.0.1:21513 ";
    EXPECT_EQ(Adb(vm1 + "shell input tap 1 2").code, 1u);  // not started yet
    ASSERT_EQ(Memuc("memuc start -i 1"), "SUCCESS: start vm finished.\r\n");
    const AdbRow rows[] = {
        {vm1 + "shell input tap 100 200", "", 0},
        {vm1 + "shell /system/bin/screencap -p /sdcard/s1.png", "", 0},
        {vm1 + "shell /system/bin/screencap -p /data/s1.png", "cannot write", 1},
        {vm1 + "pull /sdcard/s1.png " + local, "1 file pulled", 0},
        {vm1 + "shell rm /sdcard/s1.png", "", 0},
        {vm1 + "shell rm /sdcard/s1.png", "No such file", 1},
        {vm1 + "pull /sdcard/s1.png " + root_ + "again.png", "error", 1},
        {vm1 + "frobnicate", "unknown command", 1},
        {"-s 127.0.0.1:21523 shell input tap 1 2", "not found", 1},
    };
    for (const AdbRow& row : rows) {
        const Ran ran = Adb(row.args);
        if (*row.part == '\0') {
            EXPECT_EQ(ran.out, "") << row.args;
        } else {
            EXPECT_TRUE(Contains(ran.out, row.part)) << row.args << ": " << ran.out;
        }
        EXPECT_EQ(ran.code, row.code) << row.args;
    }
    std::string png;
    ASSERT_TRUE(sim::ReadFileBytes(local, &png));
    EXPECT_EQ(png.substr(1, 3), "PNG");
}

// VM 1 boots in 300 ms, VM 2 takes ten minutes: each rule counts for its VM only.
TEST_F(SimulatedEmulator, AdbSaysOfflineUntilTheBootTimeHasPassed) {
    SetSimSwitches(root_, "adb.exe * boot=300 1\r\nadb.exe * boot=600000 2\r\n");
    ASSERT_EQ(Memuc("memuc start -i 1"), "SUCCESS: start vm finished.\r\n");
    ASSERT_EQ(Memuc("memuc start -i 2"), "SUCCESS: start vm finished.\r\n");
    const Ran booting = Adb("-s 127.0.0.1:21523 shell getprop sys.boot_completed");
    EXPECT_EQ(booting.out, "error: device offline\r\n");
    EXPECT_EQ(booting.code, 1u);
    Ran booted;
    for (const ULONGLONG start = GetTickCount64(); GetTickCount64() - start < 20000; Sleep(100)) {
        booted = Adb("-s 127.0.0.1:21513 shell getprop sys.boot_completed");
        if (booted.code == 0) break;
    }
    EXPECT_EQ(booted.out, "1\r\n");
    EXPECT_EQ(booted.code, 0u);
    EXPECT_EQ(Adb("-s 127.0.0.1:21503 shell getprop sys.boot_completed").code, 1u);  // stopped
}

struct TypingRow {
    const char* name;
    const char* args;   // adb's arguments after "shell", as written on its command line
    const char* typed;  // null: refused, nothing typed
};

// "input text" types its one word as the device shell would pass it, and refuses whatever
// would make the device shell do anything else.
TEST_F(SimulatedEmulator, InputTextTypesOnlyWhatTheDeviceShellWouldPass) {
    ASSERT_EQ(Memuc("memuc start -i 1"), "SUCCESS: start vm finished.\r\n");
    const TypingRow rows[] = {
        {"single quotes, '\\'' and %s", R"(input text 'it'\''s%sok')", "it's ok"},
        {"one argument holding quoted ; and blanks", R"("input text 'a;b  c'")", "a;b  c"},
        {"backslashes outside quotes", R"(input text a\ b\;c)", "a b;c"},
        {"Chinese in double quotes", R"(input text \"中文%s字\")", "中文 字"},
        {"escaped $ in double quotes", R"(input text \"\$HOME\")", "$HOME"},
        {"empty word", R"(input text '')", ""},
        {"unquoted ;", R"(input text a;reboot)", nullptr},
        {"unquoted |", R"(input text a|b)", nullptr},
        {"$( ) in double quotes", R"(input text \"$(reboot)\")", nullptr},
        {"backquotes", R"(input text 'a'`reboot`)", nullptr},
        {"two words", R"(input text a b)", nullptr},
        {"no word", R"(input text)", nullptr},
        {"a comment", R"(input text #a)", nullptr},
        {"open quote", R"(input text 'abc)", nullptr},
    };
    for (const TypingRow& row : rows) {
        const size_t before = Typed().size();
        const Ran ran = Adb(std::string("-s 127.0.0.1:21513 shell ") + row.args);
        if (row.typed) {
            EXPECT_EQ(ran.code, 0u) << row.name << ": " << ran.out;
            EXPECT_EQ(ran.out, "") << row.name;
            EXPECT_EQ(Typed().substr(before), std::string("1\t") + row.typed + "\r\n") << row.name;
        } else {
            EXPECT_EQ(ran.code, 1u) << row.name;
            EXPECT_EQ(ran.out.rfind("sim: the device shell would run: input text", 0), 0u)
                << row.name << ": " << ran.out;
            EXPECT_EQ(Typed().size(), before) << row.name;
        }
    }
}

// The switches of MEmuHeadless.exe: VM 1 burns CPU and holds 64 MiB, VM 2's window hangs; VM 0
// is a normal VM to compare with.
TEST_F(SimulatedEmulator, HeadlessSwitchesBurnHoldAndHangPerVm) {
    constexpr uint64_t kHeld = 64 << 20;
    SetSimSwitches(root_,
                   "MEmuHeadless.exe * burn 1\r\nMEmuHeadless.exe * hold=67108864 1\r\n"
                   "MEmuHeadless.exe * hungwindow 2\r\n");
    for (const char* index : {"0", "1", "2"}) {
        ASSERT_EQ(Memuc(std::string("memuc start -i ") + index), "SUCCESS: start vm finished.\r\n");
    }
    const ULONGLONG started = GetTickCount64();
    const std::vector<sim::Vm> vms = SimVms(root_);

    // VM 1 spends half a second of CPU time while VM 0 spends far less.
    const ProcessUse normal = UseOf(vms[0].pid);
    const ProcessUse burning = UseOf(vms[1].pid);
    uint64_t burnt = 0;
    while (burnt < 5000000 && GetTickCount64() - started < 20000) {
        Sleep(100);
        burnt = UseOf(vms[1].pid).cpu_100ns - burning.cpu_100ns;
    }
    EXPECT_GE(burnt, 5000000u);
    EXPECT_LT(UseOf(vms[0].pid).cpu_100ns - normal.cpu_100ns, burnt / 2);

    const uint64_t held =
        burning.private_bytes - std::min(burning.private_bytes, normal.private_bytes);
    EXPECT_GE(held, kHeld * 9 / 10) << burning.private_bytes << " " << normal.private_bytes;
    EXPECT_LE(held, kHeld + (32 << 20));

    // Once about five seconds have passed without it taking messages, the window counts as hung.
    const ULONGLONG elapsed = GetTickCount64() - started;
    if (elapsed < 6000) Sleep(static_cast<DWORD>(6000 - elapsed));
    DWORD_PTR result = 0;
    const auto window = [&vms](int index) {
        return reinterpret_cast<HWND>(static_cast<intptr_t>(sim::VmWindowOf(vms[index].pid)));
    };
    ASSERT_NE(window(2), nullptr);
    EXPECT_NE(SendMessageTimeoutW(window(0), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &result), 0);
    EXPECT_EQ(SendMessageTimeoutW(window(2), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &result), 0);
    EXPECT_EQ(Memuc("memuc stop -i 2"), "SUCCESS: stop vm finished.\r\n");
    EXPECT_FALSE(sim::IsProcessAlive(vms[2].pid));
}

}  // namespace
