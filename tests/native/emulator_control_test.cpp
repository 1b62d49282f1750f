#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "control/emulator_control.h"
#include "fake_control_platform.h"

namespace {

using Operation = std::function<std::string(EmulatorControl&)>;

std::string Result(bool value) {
    return value ? "true" : "false";
}

// A control object built against the fake, with the events of construction forgotten.
struct Fixture {
    FakeControlPlatform platform;
    EmulatorControl control{platform};
    Fixture() { platform.Forget(); }
};

TEST(EmulatorControlSetup, ConstructionDiscoversAndEntersTheInstallFolder) {
    FakeControlPlatform platform;
    EmulatorControl control(platform);
    EXPECT_EQ(platform.events, (std::vector<std::string>{"cwd", "discover", "cd C:\\MEmu\\"}));
    EXPECT_EQ(control.control_dir, "C:\\MEmu\\");
    EXPECT_EQ(control.tool_file, "memuc.exe");
    EXPECT_EQ(platform.current_dir, "C:\\MEmu");
}

TEST(EmulatorControlSetup, EnsureWorkingDirectoryOnlyActsWhenNeeded) {
    Fixture f;
    // Already current: nothing but the check.
    EXPECT_TRUE(f.control.EnsureWorkingDirectory());
    EXPECT_EQ(f.platform.events, (std::vector<std::string>{"cwd"}));

    // Another folder current: back to the known folder, no new discovery.
    f.platform.current_dir = "C:\\MEmuHyperv";
    f.platform.Forget();
    EXPECT_TRUE(f.control.EnsureWorkingDirectory());
    EXPECT_EQ(f.platform.events, (std::vector<std::string>{"cwd", "cd C:\\MEmu\\"}));

    // The change fails: reported, nothing else changes.
    f.platform.current_dir = "C:\\Other";
    f.platform.change_succeeds = false;
    EXPECT_FALSE(f.control.EnsureWorkingDirectory());
    EXPECT_EQ(f.control.control_dir, "C:\\MEmu\\");
}

TEST(EmulatorControlSetup, FailedDiscoveryIsRetriedByTheNextOperation) {
    FakeControlPlatform platform;
    platform.discovered = "";
    EmulatorControl control(platform);
    EXPECT_EQ(control.control_dir, "");

    platform.discovered = "E:\\Emu\\";
    platform.Forget();
    control.ShakeVm(1);
    EXPECT_EQ(platform.events, (std::vector<std::string>{"cwd", "discover", "cd E:\\Emu\\",
                                                         "run memuc.exe memuc shake -i 1"}));
    EXPECT_EQ(control.control_dir, "E:\\Emu\\");
}

TEST(EmulatorControlSetup, SetToolDirectoryAdoptsOnlyAFolderHoldingTheTool) {
    struct Row {
        const char* folder;
        const char* checked_path;
        bool exists;
        const char* control_dir;
    };
    const Row rows[] = {
        {"D:\\Emu", "D:\\Emu\\memuc.exe", true, "D:\\Emu\\"},
        {"D:\\Emu\\", "D:\\Emu\\memuc.exe", true, "D:\\Emu\\"},
        {"D:\\Emu", "D:\\Emu\\memuc.exe", false, ""},
        {"", "\\memuc.exe", false, ""},
        // The last byte is the trail of a two-byte character, not a separator.
        {"D:\\\x95\x5C", "D:\\\x95\x5C\\memuc.exe", true, "D:\\\x95\x5C\\"},
    };
    for (const Row& row : rows) {
        Fixture f;
        if (row.exists) f.platform.existing_files.insert(row.checked_path);
        EXPECT_EQ(f.control.SetToolDirectory(row.folder), row.exists) << row.folder;
        EXPECT_EQ(f.control.control_dir, row.control_dir) << row.folder;
        std::vector<std::string> expected{std::string("exists ") + row.checked_path};
        if (row.exists) expected.push_back(std::string("cd ") + row.control_dir);
        EXPECT_EQ(f.platform.events, expected) << row.folder;
    }

    // After a failed adoption the next operation discovers the install folder again.
    Fixture f;
    f.control.SetToolDirectory("D:\\Missing");
    f.platform.Forget();
    f.control.ShakeVm(0);
    EXPECT_EQ(f.platform.Count("discover"), 1);
    EXPECT_EQ(f.control.control_dir, "C:\\MEmu\\");
}

struct CapturedRow {
    const char* name;
    Operation operation;
    std::string line;
    std::string reply;
    std::string result;
    int timeout_ms = 0;
};

TEST(EmulatorControlCommands, BuildLinesRunThemCapturedAndJudgeReplies) {
    using C = EmulatorControl;
    const std::string error_text = "'memuc.exe' 不是内部或外部命令，也不是可运行的程序\r\n";
    const CapturedRow rows[] = {
        {"create default type", [](C& c) { return Result(c.CreateVm("  ")); },
         "memuc.exe create 51", "create vm finished.index:3", "true"},
        {"create full-width blank", [](C& c) { return Result(c.CreateVm("\xA1\xA1")); },
         "memuc.exe create 51", "SUCCESS: create vm finished.index", "true"},
        {"create trimmed type", [](C& c) { return Result(c.CreateVm(" 44 ")); },
         "memuc.exe create 44", "", "false"},
        {"create inner blank kept",
         [](C& c) {
             return Result(
                 c.CreateVm("\xA1\xA1"
                            "4 4 "));
         },
         "memuc.exe create 4 4", "create vm finished.", "false"},
        {"remove negative index", [](C& c) { return Result(c.RemoveVm(-1)); },
         "memuc.exe memuc remove -i -1", "SUCCESS: delete vm finished.", "true"},
        {"remove without SUCCESS", [](C& c) { return Result(c.RemoveVm(2)); },
         "memuc.exe memuc remove -i 2", "delete vm finished.", "false"},
        {"clone", [](C& c) { return Result(c.CloneVm(2)); }, "memuc.exe memuc clone -i 2",
         "x\r\nSUCCESS: clone vm finished.\r\n", "true"},
        {"clone wrong case", [](C& c) { return Result(c.CloneVm(2)); },
         "memuc.exe memuc clone -i 2", "success: clone vm finished.", "false"},
        {"start and wait", [](C& c) { return Result(c.StartVm(3, true)); },
         "memuc.exe memuc start -i 3", "SUCCESS: start vm finished.", "true"},
        {"start with time-out", [](C& c) { return Result(c.StartVm(3, true, 500)); },
         "memuc.exe memuc start -i 3", "ERROR: timeout", "false", 500},
        {"stop and wait", [](C& c) { return Result(c.StopVm(0, true, 9000)); },
         "memuc.exe memuc stop -i 0", "SUCCESS: stop vm finished.", "true", 9000},
        {"reboot and wait", [](C& c) { return Result(c.RebootVm(1, true, 60000)); },
         "memuc.exe memuc reboot -i 1", "SUCCESS: reboot android finished.", "true", 60000},
        {"running: empty reply", [](C& c) { return Result(c.IsVmRunning(4)); },
         "memuc.exe memuc isvmrunning -i 4", "", "true"},
        {"running: error text", [](C& c) { return Result(c.IsVmRunning(4)); },
         "memuc.exe memuc isvmrunning -i 4", error_text, "true"},
        {"running: Not Running", [](C& c) { return Result(c.IsVmRunning(4)); },
         "memuc.exe memuc isvmrunning -i 4", "Not Running", "false"},
        {"running: other case", [](C& c) { return Result(c.IsVmRunning(4)); },
         "memuc.exe memuc isvmrunning -i 4", "not running", "true"},
        {"rename quotes the title",
         [](C& c) {
             c.RenameVm(1, "我的 VM");
             return std::string();
         },
         "memuc.exe memuc -i 1 rename \"我的 VM\"", "SUCCESS", ""},
        {"install by path, trimmed",
         [](C& c) {
             c.InstallApp(1, " C:\\a b.apk ", "com.x");
             return std::string();
         },
         "memuc.exe memuc installapp -i 1 C:\\a b.apk", "", ""},
        {"install by package when the path is blank",
         [](C& c) {
             c.InstallApp(1, "\xA1\xA1 ", " com.x ");
             return std::string();
         },
         "memuc.exe memuc installapp -i 1 -p com.x", "", ""},
        {"uninstall keeps blanks",
         [](C& c) {
             c.UninstallApp(1, " com.x");
             return std::string();
         },
         "memuc.exe memuc uninstallapp -i 1  com.x", "", ""},
        {"start app",
         [](C& c) {
             c.StartApp(5, "com.x");
             return std::string();
         },
         "memuc.exe memuc startapp -i 5 com.x", "", ""},
        {"stop app",
         [](C& c) {
             c.StopApp(5, "com.x & echo");
             return std::string();
         },
         "memuc.exe memuc stopapp -i 5 com.x & echo", "", ""},
        {"shake",
         [](C& c) {
             c.ShakeVm(6);
             return std::string();
         },
         "memuc.exe memuc shake -i 6", "", ""},
        {"send key trimmed",
         [](C& c) {
             c.SendKey(6, " back\xA1\xA1");
             return std::string();
         },
         "memuc.exe memuc sendkey -i 6 back", "", ""},
        {"connect", [](C& c) { return Result(c.ConnectVm(7)); }, "memuc.exe memuc connect -i 7",
         "SUCCESS: connected", "true"},
        {"connect: SUCCESS: at the very end", [](C& c) { return Result(c.ConnectVm(7)); },
         "memuc.exe memuc connect -i 7", "failed, no SUCCESS:", "false"},
        {"disconnect", [](C& c) { return Result(c.DisconnectVm(7)); },
         "memuc.exe memuc disconnect -i 7", "ok SUCCESS: x", "true"},
        {"exec returns the output", [](C& c) { return c.ExecInVm(2, "ls /sdcard"); },
         "memuc.exe memuc -i 2 execcmd \"ls /sdcard\"", "a\r\nb\r\n", "a\r\nb\r\n"},
        {"exec returns error text", [](C& c) { return c.ExecInVm(2, ""); },
         "memuc.exe memuc -i 2 execcmd \"\"", error_text, error_text},
        {"sort windows", [](C& c) { return Result(c.SortWindows()); }, "memuc.exe sortwin",
         "SUCCESS", "true"},
        {"sort windows still waiting", [](C& c) { return Result(c.SortWindows()); },
         "memuc.exe sortwin", "wait for 30000 ms", "true"},
        {"sort windows failed", [](C& c) { return Result(c.SortWindows()); }, "memuc.exe sortwin",
         "ERROR", "false"},
        // "SUCCESS" hidden behind a lead byte does not count.
        {"sort windows inside a character", [](C& c) { return Result(c.SortWindows()); },
         "memuc.exe sortwin", "\x81SUCCESS", "false"},
        {"get config", [](C& c) { return c.GetConfig(0, "fps"); }, "memuc.exe getconfig -i 0 fps",
         "Value: 60\r\n", "Value: 60\r\n"},
        {"set config", [](C& c) { return Result(c.SetConfig(-2, "fps", "30")); },
         "memuc.exe setconfig -i -2 fps 30", "wait for 30000", "true"},
        {"set config failed", [](C& c) { return Result(c.SetConfig(1, "fps", "")); },
         "memuc.exe setconfig -i 1 fps ", "", "false"},
    };
    for (const CapturedRow& row : rows) {
        Fixture f;
        f.platform.replies = {row.reply};
        EXPECT_EQ(row.operation(f.control), row.result) << row.name;
        EXPECT_EQ(f.platform.runs,
                  (std::vector<RecordedRun>{{row.line, row.timeout_ms, /*captured=*/true}}))
            << row.name;
    }
}

TEST(EmulatorControlCommands, WithoutWaitStartsDetachedAndReportsFalse) {
    using C = EmulatorControl;
    const std::pair<Operation, std::string> rows[] = {
        {[](C& c) { return Result(c.StartVm(3)); }, "memuc.exe memuc start -i 3"},
        {[](C& c) { return Result(c.StartVm(3, false, 100)); }, "memuc.exe memuc start -i 3"},
        {[](C& c) { return Result(c.StopVm(-4)); }, "memuc.exe memuc stop -i -4"},
        {[](C& c) { return Result(c.RebootVm(1, false, 60000)); }, "memuc.exe memuc reboot -i 1"},
        {[](C& c) {
             c.StopAllVms();
             return Result(false);
         },
         "memuc.exe memuc stopall"},
    };
    for (const auto& [operation, line] : rows) {
        Fixture f;
        f.platform.replies = {"SUCCESS: start vm finished. SUCCESS: stop vm finished."};
        EXPECT_EQ(operation(f.control), "false") << line;
        EXPECT_EQ(f.platform.runs, (std::vector<RecordedRun>{{line, 0, /*captured=*/false}}))
            << line;
    }
}

TEST(EmulatorControlCommands, OnlySortAndConfigRunInWhateverFolderIsCurrent) {
    using C = EmulatorControl;
    const std::pair<const char*, Operation> keeps_folder[] = {
        {"sortwin", [](C& c) { return Result(c.SortWindows()); }},
        {"getconfig", [](C& c) { return c.GetConfig(1, "k"); }},
        {"setconfig", [](C& c) { return Result(c.SetConfig(1, "k", "v")); }},
    };
    for (const auto& [name, operation] : keeps_folder) {
        Fixture f;
        f.platform.current_dir = "C:\\MEmuHyperv";
        operation(f.control);
        EXPECT_EQ(f.platform.Count("cwd"), 0) << name;
        EXPECT_EQ(f.platform.current_dir, "C:\\MEmuHyperv") << name;
    }

    // Every other operation goes back to the install folder before its command.
    const std::pair<const char*, Operation> enters_folder[] = {
        {"create", [](C& c) { return Result(c.CreateVm("")); }},
        {"start detached", [](C& c) { return Result(c.StartVm(1)); }},
        {"stopall",
         [](C& c) {
             c.StopAllVms();
             return std::string();
         }},
        {"list", [](C& c) { return Result(c.FirstWindowlessVm() == -1); }},
        {"adb", [](C& c) { return c.AdbCommand(0, "devices"); }},
    };
    for (const auto& [name, operation] : enters_folder) {
        Fixture f;
        f.platform.current_dir = "C:\\MEmuHyperv";
        operation(f.control);
        ASSERT_GE(f.platform.events.size(), 3u) << name;
        EXPECT_EQ(f.platform.events[0], "cwd") << name;
        EXPECT_EQ(f.platform.events[1], "cd C:\\MEmu\\") << name;
        EXPECT_EQ(f.platform.current_dir, "C:\\MEmu") << name;
    }
}

// Counts the calls that reach the overridable operations through the object.
class SpyingControl : public EmulatorControl {
public:
    using EmulatorControl::EmulatorControl;
    int ensure_calls = 0;
    std::vector<std::pair<int32_t, std::string>> adb_commands;
    std::deque<std::string> adb_replies;

    bool EnsureWorkingDirectory() override {
        ++ensure_calls;
        return EmulatorControl::EnsureWorkingDirectory();
    }
    std::string AdbCommand(int32_t index, const std::string& command) override {
        adb_commands.emplace_back(index, command);
        if (adb_replies.empty()) return {};
        std::string reply = adb_replies.front();
        adb_replies.pop_front();
        return reply;
    }
};

TEST(EmulatorControlDispatch, OperationsCallEnsureWorkingDirectoryThroughTheObject) {
    using C = EmulatorControl;
    const std::pair<Operation, int> rows[] = {
        {[](C& c) { return Result(c.CreateVm("")); }, 1},
        {[](C& c) { return Result(c.RemoveVm(1)); }, 1},
        {[](C& c) { return Result(c.StartVm(1)); }, 1},
        {[](C& c) { return Result(c.RebootVm(1, true)); }, 1},
        {[](C& c) {
             VmList vms;
             return Result(c.ListVms(vms) == 0);
         },
         1},
        {[](C& c) {
             VmList vms;
             return Result(c.ListWindowedVms(vms) == 0);
         },
         1},
        {[](C& c) { return Result(c.FirstWindowlessVm() == -1); }, 1},
        {[](C& c) { return c.ExecInVm(1, "x"); }, 1},
        {[](C& c) { return c.EmulatorControl::AdbCommand(1, "x"); }, 1},
        {[](C& c) { return Result(c.SortWindows()); }, 0},
        {[](C& c) { return c.GetConfig(1, "k"); }, 0},
        {[](C& c) { return Result(c.SetConfig(1, "k", "v")); }, 0},
        {[](C& c) { return Result(c.SetToolDirectory("D:\\")); }, 0},
        {[](C& c) { return Result(c.FindHeadlessProcess(1) == 0); }, 0},
    };
    int row_number = 0;
    for (const auto& [operation, expected_calls] : rows) {
        FakeControlPlatform platform;
        SpyingControl control(platform);
        operation(control);
        EXPECT_EQ(control.ensure_calls, expected_calls) << "row " << row_number++;
    }
}

TEST(EmulatorControlDispatch, AdbOperationsCallAdbCommandThroughTheObject) {
    using C = EmulatorControl;
    const std::pair<std::function<void(C&)>, std::string> rows[] = {
        {[](C& c) { c.InputText(2, "a b;&|\"c"); }, "shell input text a b;&|\"c"},
        {[](C& c) { c.InputKeyEvent(2, 3); }, "shell input keyevent 3"},
        {[](C& c) { c.InputKeyEvent(2, -1); }, "shell input keyevent -1"},
        {[](C& c) { c.InputTap(2, 100, 200); }, "shell input tap 100 200"},
        {[](C& c) { c.InputSwipe(2, 1, 2, 3, -4); }, "shell input swipe 1 2 3 -4"},
        {[](C& c) { c.ClearAppData(2, "com.x"); }, "shell pm clear com.x"},
    };
    for (const auto& [operation, command] : rows) {
        FakeControlPlatform platform;
        SpyingControl control(platform);
        platform.Forget();
        operation(control);
        EXPECT_EQ(control.adb_commands,
                  (std::vector<std::pair<int32_t, std::string>>{{2, command}}));
        EXPECT_TRUE(platform.runs.empty()) << command;
    }
}

TEST(EmulatorControlAdb, TargetsThePortOfTheVm) {
    const std::pair<int32_t, const char*> rows[] = {
        {0, "-s 127.0.0.1:21503 "},
        {1, "-s 127.0.0.1:21513 "},
        {7, "-s 127.0.0.1:21573 "},
        {-1, "-s 127.0.0.1:21493 "},
        {2147483647, "-s 127.0.0.1:21474857973 "},
        {-2147483647 - 1, "-s 127.0.0.1:-21474814977 "},
    };
    for (const auto& [index, target] : rows) EXPECT_EQ(AdbTarget(index), target) << index;
}

TEST(EmulatorControlAdb, AdbCommandRunsCapturedInTheInstallFolder) {
    Fixture f;
    f.platform.current_dir = "C:\\Else";
    f.platform.replies = {"error: device offline\r\n"};
    f.control.InputTap(1, 100, 200);
    EXPECT_EQ(f.platform.events,
              (std::vector<std::string>{"cwd", "cd C:\\MEmu\\",
                                        "run adb.exe -s 127.0.0.1:21513 shell input tap 100 200"}));
    f.platform.replies = {"List\r\n"};
    EXPECT_EQ(f.control.AdbCommand(0, "shell input keyevent 3"), "List\r\n");
    EXPECT_EQ(f.platform.runs.back(),
              (RecordedRun{"adb.exe -s 127.0.0.1:21503 shell input keyevent 3", 0, true}));
}

TEST(EmulatorControlAdb, ScreenshotRunsThreeStepsAndJoinsTheirOutput) {
    Fixture f;
    f.platform.tick = 1234;
    f.platform.replies = {"a\r\n", "", "b\r\n"};
    EXPECT_EQ(f.control.Screenshot(1, "shots\\s.png"), "a  *  b  *  ");
    const std::string prefix = "adb.exe -s 127.0.0.1:21513 ";
    ASSERT_EQ(f.platform.runs.size(), 3u);
    EXPECT_EQ(f.platform.runs[0].line,
              prefix + "shell /system/bin/screencap -p /sdcard/screenshot1234.png");
    EXPECT_EQ(f.platform.runs[1].line, prefix + "pull /sdcard/screenshot1234.png shots\\s.png");
    EXPECT_EQ(f.platform.runs[2].line, prefix + "shell rm /sdcard/screenshot1234.png");
}

TEST(EmulatorControlAdb, ScreenshotNamesAndLineBreaks) {
    struct Row {
        int32_t tick;
        std::deque<std::string> replies;
        std::string name;
        std::string log;
    };
    const Row rows[] = {
        {0, {}, "screenshot0.png", ""},
        {-5, {"x"}, "screenshot-5.png", "x"},
        {-2147483647 - 1, {}, "screenshot-2147483648.png", ""},
        // Only CR LF pairs become separators; a CR that is a trail byte stays.
        {7, {"a\n", "b\r", "\nc"}, "screenshot7.png", "a\nb  *  c"},
        {7, {"\x81\r\n", "", ""}, "screenshot7.png", "\x81\r\n"},
    };
    for (const Row& row : rows) {
        FakeControlPlatform platform;
        SpyingControl control(platform);
        platform.tick = row.tick;
        control.adb_replies = row.replies;
        EXPECT_EQ(control.Screenshot(0, "p"), row.log) << row.name;
        ASSERT_EQ(control.adb_commands.size(), 3u);
        EXPECT_EQ(control.adb_commands[0].second,
                  "shell /system/bin/screencap -p /sdcard/" + row.name);
        EXPECT_EQ(control.adb_commands[1].second, "pull /sdcard/" + row.name + " p");
        EXPECT_EQ(control.adb_commands[2].second, "shell rm /sdcard/" + row.name);
    }

    // Two calls at the same tick use the same device file.
    Fixture f;
    f.platform.tick = 99;
    f.control.Screenshot(0, "a.png");
    f.control.Screenshot(0, "b.png");
    ASSERT_EQ(f.platform.runs.size(), 6u);
    EXPECT_EQ(f.platform.runs[0].line, f.platform.runs[3].line);
}

// --- Listing ---------------------------------------------------------------------------------

const char kTwoVms[] = "0,MEmu,0,0,0\r\n1,MEmu_1,1234,1,5678\r\n";

struct ListFixture : Fixture {
    ListFixture() {
        platform.processes.entries.push_back({10, "explorer.exe"});
        platform.processes.AddHeadless(900, "MEmuHeadless.exe --comment MEmu_1 --startvm x");
        platform.processes.AddHeadless(901, "MEmuHeadless.exe --comment MEmu --startvm x");
    }
    std::vector<std::string> WaitsAndWalks() const {
        std::vector<std::string> kept;
        for (const std::string& e : platform.events) {
            if (e == "wait" || e.rfind("walk ", 0) == 0) kept.push_back(e);
        }
        return kept;
    }
};

void ExpectRecord(const VmRecord& r, int32_t index, const std::string& title, int32_t window,
                  int32_t inner, bool started, int32_t pid, int32_t headless) {
    SCOPED_TRACE(title);
    EXPECT_EQ(r.index, index);
    EXPECT_EQ(r.title, title);
    EXPECT_EQ(r.window, window);
    EXPECT_EQ(r.inner_window, inner);
    EXPECT_EQ(r.started, started);
    EXPECT_EQ(r.process_id, pid);
    EXPECT_EQ(r.headless_pid, headless);
    EXPECT_EQ(r.reserved1, 0);
    EXPECT_EQ(r.reserved2, "");
    EXPECT_EQ(r.reserved3, 0);
}

TEST(EmulatorControlList, TwoVmExampleForAllThreeListOperations) {
    ListFixture f;
    f.platform.replies = {kTwoVms};
    VmList vms;
    EXPECT_EQ(f.control.ListVms(vms), 2);
    ASSERT_EQ(vms.Count(), 2);
    ExpectRecord(vms.At(1, {0, 0}), 0, "MEmu", 0, 0, false, 0, 0);
    ExpectRecord(vms.At(2, {0, 0}), 1, "MEmu_1", 1234, 1235, true, 5678, 900);
    EXPECT_EQ(f.platform.runs, (std::vector<RecordedRun>{{"memuc.exe memuc listvms", 0, true}}));
    EXPECT_EQ(f.WaitsAndWalks(), (std::vector<std::string>{"wait", "walk 1234", "wait"}));

    f.platform.Forget();
    f.platform.replies = {kTwoVms};
    EXPECT_EQ(f.control.ListWindowedVms(vms), 1);
    ASSERT_EQ(vms.Count(), 1);
    ExpectRecord(vms.At(1, {0, 0}), 1, "MEmu_1", 1234, 1235, true, 5678, 900);
    EXPECT_EQ(f.WaitsAndWalks(), (std::vector<std::string>{"walk 1234", "wait"}));

    f.platform.Forget();
    f.platform.replies = {kTwoVms};
    EXPECT_EQ(f.control.FirstWindowlessVm(), 0);
    EXPECT_EQ(f.platform.Count("wait"), 0);
    EXPECT_EQ(f.platform.runs, (std::vector<RecordedRun>{{"memuc.exe memuc listvms", 0, true}}));
}

struct ListRow {
    const char* name;
    std::string reply;
    std::vector<int32_t> listed;    // indexes from ListVms
    std::vector<int32_t> windowed;  // indexes from ListWindowedVms
    int32_t first_windowless;
};

TEST(EmulatorControlList, WhichLinesEachListOperationTakes) {
    const ListRow rows[] = {
        {"empty reply", "", {}, {}, -1},
        {"error text", "'memuc.exe' 不是内部或外部命令\r\n", {}, {}, -1},
        {"LF only", "0,MEmu,0,0,0\n1,MEmu_1,1234,1,5678\n", {}, {}, 0},
        {"final comma", "2,MEmu_2,0,0,\r\n", {}, {}, 2},
        {"final comma with window", "3,MEmu_3,77,1,\r\n", {}, {}, -1},
        {"empty field", "4,,0,,0\r\n", {4}, {}, 4},
        {"title with a comma", "5,A,12,55,1,9\r\n", {}, {5}, -1},
        {"two fields only", "6,x\r\n", {}, {}, -1},
        {"three fields", "7,x,0\r\n", {}, {}, 7},
        {"negative window", "8,x,-3,1,0\r\n", {8}, {}, 8},
        {"window 1 is a window", "8,x,1,1,0\r\n", {8}, {8}, -1},
        {"trail byte 0x2C", "9,\x81\x2C,5,1,0\r\n", {9}, {9}, -1},
        {"trail byte 0x0D hides the line end", "10,A\x81\r\n11,B,0,0,0\r\n", {}, {}, 10},
        {"windowed after windowless",
         "1,a,5,1,0\r\n2,b,0,0,0\r\n3,c,6,1,0\r\n",
         {1, 2, 3},
         {1, 3},
         2},
        {"no final CR LF", "1,a,5,1,0\r\n2,b,0,0,0", {1, 2}, {1}, 2},
        {"blank lines between", "\r\n1,a,5,1,0\r\n\r\n", {1}, {1}, -1},
    };
    for (const ListRow& row : rows) {
        ListFixture f;
        VmList vms;
        f.platform.replies = {row.reply, row.reply, row.reply};

        EXPECT_EQ(f.control.ListVms(vms), static_cast<int>(row.listed.size())) << row.name;
        std::vector<int32_t> indexes;
        for (const VmRecord& r : vms) indexes.push_back(r.index);
        EXPECT_EQ(indexes, row.listed) << row.name;
        EXPECT_EQ(f.platform.Count("wait"), static_cast<int>(row.listed.size())) << row.name;

        f.platform.Forget();
        EXPECT_EQ(f.control.ListWindowedVms(vms), static_cast<int>(row.windowed.size()))
            << row.name;
        indexes.clear();
        for (const VmRecord& r : vms) {
            indexes.push_back(r.index);
            EXPECT_EQ(r.inner_window, r.window + 1) << row.name;
        }
        EXPECT_EQ(indexes, row.windowed) << row.name;
        EXPECT_EQ(f.platform.Count("wait"), static_cast<int>(row.windowed.size())) << row.name;

        EXPECT_EQ(f.control.FirstWindowlessVm(), row.first_windowless) << row.name;
    }
}

TEST(EmulatorControlList, WindowedListTakesTheFirstFiveOfSixFields) {
    ListFixture f;
    f.platform.replies = {"5,A,12,55,1,9\r\n"};
    VmList vms;
    ASSERT_EQ(f.control.ListWindowedVms(vms), 1);
    ExpectRecord(vms.At(1, {0, 0}), 5, "A", 12, 13, true, 1, 0);
}

TEST(EmulatorControlList, FirstWindowlessWaitsOncePerWindowedLinePassed) {
    ListFixture f;
    f.platform.replies = {"1,a,5,1,0\r\nbad\r\n2,b,6,1,0\r\n3,c,0,0,0\r\n4,d,0,0,0\r\n"};
    EXPECT_EQ(f.control.FirstWindowlessVm(), 3);
    EXPECT_EQ(f.platform.Count("wait"), 2);
    EXPECT_EQ(f.platform.Count("walk 5"), 0);
}

TEST(EmulatorControlList, LooksUpOnlyWhatEachLineHolds) {
    ListFixture f;
    // Line 1 has a window and a process; line 2 has neither and must not inherit them.
    f.platform.replies = {"1,MEmu_1,1234,1,5678\r\n0,MEmu,0,1,0\r\n"};
    VmList vms;
    ASSERT_EQ(f.control.ListVms(vms), 2);
    ExpectRecord(vms.At(1, {0, 0}), 1, "MEmu_1", 1234, 1235, true, 5678, 900);
    ExpectRecord(vms.At(2, {0, 0}), 0, "MEmu", 0, 0, true, 0, 0);
    EXPECT_EQ(f.platform.Count("walk 0"), 0);
}

TEST(EmulatorControlList, ListingReplacesThePreviousRecords) {
    ListFixture f;
    VmList vms;
    for (int i = 0; i < 3; ++i) vms.Append(VmRecord{});
    f.platform.replies = {"7,x,0,0,0\r\n"};
    EXPECT_EQ(f.control.ListVms(vms), 1);
    ASSERT_EQ(vms.Count(), 1);
    EXPECT_EQ(vms.At(1, {0, 0}).index, 7);

    f.platform.replies = {"nothing"};
    EXPECT_EQ(f.control.ListWindowedVms(vms), 0);
    EXPECT_TRUE(vms.Empty());
}

TEST(EmulatorControlList, OneSnapshotPerListingAndEachCommandLineReadOnce) {
    ListFixture f;
    FakeProcessSource& source = f.platform.processes;
    source.AddHeadless(902, "MEmuHeadless.exe --comment MEmu_2 --startvm y");
    source.AddHeadless(903, "MEmuHeadless.exe --comment MEmu_2 --startvm z");  // later duplicate
    source.entries.push_back({904, "memuheadless.exe"});                       // other case
    source.command_lines[904] = "MEmuHeadless.exe --comment MEmu_3 --startvm w";
    source.AddHeadless(905, "");  // unreadable: counts as VM 0 (after 901, which wins)

    f.platform.replies = {
        "0,MEmu,0,1,11\r\n1,MEmu_1,0,1,12\r\n2,MEmu_2,0,1,13\r\n3,MEmu_3,0,1,14\r\n"
        "2,MEmu_2,0,1,15\r\n"};
    VmList vms;
    ASSERT_EQ(f.control.ListVms(vms), 5);
    std::vector<int32_t> headless;
    for (const VmRecord& r : vms) headless.push_back(r.headless_pid);
    EXPECT_EQ(headless, (std::vector<int32_t>{901, 900, 902, 0, 902}));
    EXPECT_EQ(source.snapshots, 1);
    for (const auto& [pid, count] : source.reads) EXPECT_EQ(count, 1) << pid;
    EXPECT_EQ(source.reads.count(904), 0u);

    // The scanner operation itself answers the same for each index, one snapshot per call.
    for (int32_t index : {0, 1, 2, 3}) {
        const int32_t expected = index == 0 ? 901 : index == 1 ? 900 : index == 2 ? 902 : 0;
        EXPECT_EQ(f.control.FindHeadlessProcess(index), expected) << index;
    }
    EXPECT_EQ(source.snapshots, 5);
}

}  // namespace
