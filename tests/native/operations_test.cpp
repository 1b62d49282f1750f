#include "control/operations.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <ostream>
#include <string>

#include "control/command_line_args.h"
#include "control/strict_result.h"
#include "row_name.h"

namespace {

TEST(Operations, EveryOperationHasOneRowWhosePlaceholdersAreItsSlots) {
    std::set<Op> seen;
    for (const OperationRow& operation : AllOperations()) {
        EXPECT_TRUE(seen.insert(operation.op).second) << operation.pattern;
        EXPECT_EQ(&RowOf(operation.op), &operation) << operation.pattern;
        const std::string pattern = operation.pattern;
        for (const Slot& slot : operation.slots) {
            if (!slot.name) continue;
            const bool placed =
                pattern.find(std::string("{") + slot.name + "}") != std::string::npos;
            // adb's lines put the index into the target, not the pattern.
            EXPECT_EQ(placed, !(operation.tool == Tool::kAdb && slot.kind == SlotKind::kIndex))
                << pattern << " " << slot.name;
        }
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(Op::kScreenStream) + 1);
}

// A row that names a device service begins with its word, so the device's command is the rest
// of the row; a row the server serves asks the device for something.
TEST(Operations, EveryDeviceRowBeginsWithItsServiceWord) {
    for (const OperationRow& operation : AllOperations()) {
        const std::string_view word = ServiceWord(operation.service);
        if (operation.via_server) {
            EXPECT_FALSE(word.empty()) << operation.pattern;
        }
        if (word.empty()) continue;
        EXPECT_EQ(operation.tool, Tool::kAdb) << operation.pattern;
        EXPECT_EQ(std::string(operation.pattern).rfind(std::string(word) + " ", 0), 0u)
            << operation.pattern;
    }
}

struct DeviceCommandRow {
    const char* name;
    Op op;
    OperationArgs args;
    const char* command;
};

class DeviceCommandTest : public testing::TestWithParam<DeviceCommandRow> {};

TEST_P(DeviceCommandTest, IsWhatTheDeviceRuns) {
    EXPECT_EQ(DeviceCommand(GetParam().op, GetParam().args), GetParam().command);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DeviceCommandTest,
    testing::Values(
        DeviceCommandRow{"tap", Op::kInputTap, {3, {-5, 7}, {}}, "input tap -5 7"},
        DeviceCommandRow{"text", Op::kInputText, {3, {}, {"a b"}}, "input text 'a%sb'"},
        DeviceCommandRow{"boot", Op::kBootCompleted, {3, {}, {}}, "getprop sys.boot_completed"},
        DeviceCommandRow{"clear", Op::kClearAppData, {3, {}, {"com.x"}}, "pm clear com.x"},
        DeviceCommandRow{"screen", Op::kScreenStream, {3, {}, {}}, "screencap -p"}),
    RowName());

struct LineRow {
    const char* name;
    Op op;
    OperationArgs args;
    std::string line;
};

// Rows print as their names in test listings.
void PrintTo(const LineRow& row, std::ostream* out) {
    *out << row.name;
}

class OneArgumentLineTest : public testing::TestWithParam<LineRow> {};

// The console companion's lines: the specified line style, with every text one argument.
TEST_P(OneArgumentLineTest, BuildsTheLine) {
    const LineRow& row = GetParam();
    EXPECT_EQ(OperationLine(row.op, row.args, TextStyle::kOneArgumentEach), row.line);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OneArgumentLineTest,
    testing::Values(
        LineRow{"setconfig value with blanks",
                Op::kSetConfig,
                {1, {}, {"cpus", "4 -i 3"}},
                "memuc.exe setconfig -i 1 cpus \"4 -i 3\""},
        LineRow{"install package with a quote",
                Op::kInstallPackage,
                {1, {}, {"a\"b"}},
                "memuc.exe memuc installapp -i 1 -p \"a\\\"b\""},
        LineRow{"rename trailing backslash",
                Op::kRenameVm,
                {1, {}, {"end\\"}},
                "memuc.exe memuc -i 1 rename \"end\\\\\""},
        LineRow{"rename Chinese",
                Op::kRenameVm,
                {2, {}, {"逍遥 二号"}},
                "memuc.exe memuc -i 2 rename \"逍遥 二号\""},
        LineRow{"exec quotes",
                Op::kExecInVm,
                {2, {}, {"echo \"hi\""}},
                "memuc.exe memuc -i 2 execcmd \"echo \\\"hi\\\"\""},
        LineRow{
            "create type as given", Op::kCreateVm, {0, {}, {" 52"}}, "memuc.exe create \" 52\""},
        LineRow{"install apk path",
                Op::kInstallApk,
                {3, {}, {"C:\\My Apps\\a.apk"}},
                "memuc.exe memuc installapp -i 3 \"C:\\My Apps\\a.apk\""},
        LineRow{"randomize", Op::kRandomizeVm, {101, {}, {}}, "memuc.exe memuc randomize -i 101"},
        LineRow{"emulator input",
                Op::kTypeText,
                {1, {}, {"你好 \"x\""}},
                "memuc.exe memuc input -i 1 \"你好 \\\"x\\\"\""},
        LineRow{"setgps",
                Op::kSetGps,
                {1, {}, {"116.39", "-39.9"}},
                "memuc.exe memuc setgps -i 1 116.39 -39.9"},
        LineRow{"rotate", Op::kRotateVm, {4, {}, {}}, "memuc.exe memuc rotate -i 4"},
        LineRow{"apps", Op::kListApps, {4, {}, {}}, "memuc.exe memuc getappinfolist -i 4"},
        LineRow{"export",
                Op::kExportVm,
                {4, {}, {"D:\\vm 4.ova"}},
                "memuc.exe memuc export -i 4 \"D:\\vm 4.ova\""},
        LineRow{
            "import", Op::kImportVm, {0, {}, {"D:\\vm.ova"}}, "memuc.exe memuc import D:\\vm.ova"},
        LineRow{"adb arguments one each",
                Op::kAdbCommand,
                {1, {}, {"shell", "echo", "a b", ""}},
                "adb.exe -s 127.0.0.1:21513 shell echo \"a b\" \"\""},
        LineRow{"device text",
                Op::kInputText,
                {1, {}, {"a b&c|d%PATH%!x'y\"z"}},
                "adb.exe -s 127.0.0.1:21513 shell input text "
                "\"'a%sb&c|d%PATH%!x'\\''y\\\"z'\""},
        LineRow{"boot query",
                Op::kBootCompleted,
                {3, {}, {}},
                "adb.exe -s 127.0.0.1:21533 shell getprop sys.boot_completed"}),
    RowName());

// The device text word survives both quotings: adb receives it as one argument, and the
// device's shell reads it as one word.
TEST(Operations, DeviceTextWordIsOneSingleQuotedWord) {
    const std::pair<std::string, std::string> rows[] = {
        {"hello world", "'hello%sworld'"},
        {"it's", "'it'\\''s'"},
        {"a;reboot", "'a;reboot'"},
        {"", "''"},
        {"'", "''\\'''"},
    };
    for (const auto& [text, word] : rows) {
        EXPECT_EQ(DeviceTextWord(text), word) << text;
        EXPECT_EQ(cmdline::SplitArguments(cmdline::QuoteArgument(word)),
                  std::vector<std::string>{word})
            << text;
    }
}

struct ProblemRow {
    const char* name;
    Slot slot;
    std::string text;
    const char* problem;  // a part of the message; null: accepted
};

// Rows print as their names in test listings.
void PrintTo(const ProblemRow& row, std::ostream* out) {
    *out << row.name;
}

class TextProblemTest : public testing::TestWithParam<ProblemRow> {};

TEST_P(TextProblemTest, RefusesWhatTheToolCannotTake) {
    const ProblemRow& row = GetParam();
    ExpectReason(TextProblem(row.slot, row.text), row.problem);
}

const Slot kTitle{"TITLE", SlotKind::kName};
const Slot kPackage{"PACKAGE", SlotKind::kPackage};
const Slot kComponent{"PACKAGE", SlotKind::kComponent};
const Slot kDeviceText{"TEXT", SlotKind::kDeviceText};
const Slot kType{"TYPE", SlotKind::kText, true, "51"};
const Slot kLongitude{"LONGITUDE", SlotKind::kLongitude};
const Slot kLatitude{"LATITUDE", SlotKind::kLatitude};

INSTANTIATE_TEST_SUITE_P(
    Rows, TextProblemTest,
    testing::Values(
        ProblemRow{"title", kTitle, "逍遥 二号", nullptr},
        ProblemRow{"title empty", kTitle, "", "is empty"},
        ProblemRow{"title tab", kTitle, "a\tb", "control character (TAB)"},
        ProblemRow{"title LF", kTitle, "a\nb", "(LF)"},
        ProblemRow{"title DEL", kTitle, "a\x7F", "(0x7F)"},
        ProblemRow{"type blank", kType, " \xA1\xA1 ", "is blank"},
        ProblemRow{"type empty", kType, "", "is empty"},
        ProblemRow{"type with blanks around", kType, " 52 ", nullptr},
        ProblemRow{"package with leading blank", kPackage, " com.x", "not an Android package name"},
        ProblemRow{"title with blanks around", kTitle, " a ", nullptr},
        ProblemRow{"package", kPackage, "com.example.game_2", nullptr},
        ProblemRow{"package of the edge letters and digits", kPackage, "az.AZ09", nullptr},
        ProblemRow{"package with blank", kPackage, "com.x y", "not an Android package name"},
        ProblemRow{"package with slash", kPackage, "com.x/.Main", "not an Android package name"},
        ProblemRow{"package with semicolon", kPackage, "com.x;reboot", "not an Android package"},
        ProblemRow{"component", kComponent, "com.x/.Main$Inner", nullptr},
        ProblemRow{"component bare package", kComponent, "com.x", nullptr},
        ProblemRow{"component two slashes", kComponent, "com.x/a/b", "no valid activity"},
        ProblemRow{"component empty activity", kComponent, "com.x/", "no valid activity"},
        ProblemRow{"component dollar in package", kComponent, "com$x/.A", "package/activity"},
        ProblemRow{"device text ASCII", kDeviceText, "a b&c|d%PATH%!x'y\"z~", nullptr},
        ProblemRow{"device text Chinese", kDeviceText, "你好", "holds 你"},
        ProblemRow{"device text percent s", kDeviceText, "100%s", "holds %s"},
        ProblemRow{"device text tab", kDeviceText, "a\tb", "holds TAB"},
        ProblemRow{"device text empty", kDeviceText, "", "is empty"},
        ProblemRow{"longitude edge", kLongitude, "-180", nullptr},
        ProblemRow{"longitude beyond", kLongitude, "180.5", "from -180 to 180"},
        ProblemRow{"latitude edge", kLatitude, "90.0", nullptr},
        ProblemRow{"latitude beyond", kLatitude, "-90.01", "from -90 to 90"},
        ProblemRow{"latitude no number", kLatitude, "1e3", "not a decimal number"},
        ProblemRow{"longitude of nine digits", kLongitude, "-000000180", nullptr},
        ProblemRow{"longitude of ten digits", kLongitude, "0000000001", "not a decimal number"},
        ProblemRow{"latitude of fifteen decimals", kLatitude, "1.123456789012345", nullptr},
        ProblemRow{"latitude of sixteen decimals", kLatitude, "1.1234567890123456",
                   "not a decimal number"}),
    RowName());

struct JudgeRow {
    const char* name;
    Op op;
    ToolRun run;
    const char* failure;  // a part of the reason; null: success
};

// Rows print as their names in test listings.
void PrintTo(const JudgeRow& row, std::ostream* out) {
    *out << row.name;
}

class StrictResultTest : public testing::TestWithParam<JudgeRow> {};

TEST_P(StrictResultTest, OnlyAStartedToolThatSucceededCounts) {
    const JudgeRow& row = GetParam();
    ExpectReason(RunFailure(row.op, row.run), row.failure);
}

ToolRun Exited(uint32_t code, std::string output) {
    return {RunEnd::kExited, code, std::move(output), {}};
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StrictResultTest,
    testing::Values(
        JudgeRow{"phrase", Op::kStartVm, Exited(0, "SUCCESS: start vm finished.\r\n"), nullptr},
        JudgeRow{"phrase missing", Op::kStartVm, Exited(0, "SUCCESS: something"), "lacks"},
        JudgeRow{"exit code", Op::kStartVm, Exited(1, "SUCCESS: start vm finished."),
                 "exit code 1"},
        JudgeRow{"not started",
                 Op::kShakeVm,
                 {RunEnd::kNotStarted, 0, "", "memuc.exe could not be started"},
                 "could not be started"},
        JudgeRow{"timed out", Op::kStartVm, {RunEnd::kTimedOut, 0, "", ""}, "time-out"},
        JudgeRow{"deadline", Op::kStartVm, {RunEnd::kAbandoned, 0, "", ""}, "deadline"},
        JudgeRow{"detached", Op::kStopAllVms, {RunEnd::kDetached, 0, "", ""}, nullptr},
        JudgeRow{"no result of its own", Op::kShakeVm, Exited(0, "anything"), nullptr},
        JudgeRow{"memuc ERROR", Op::kRenameVm, Exited(0, "ERROR: no VM with index 99\r\n"),
                 "memuc.exe reported an error"},
        JudgeRow{"ERROR after blank lines", Op::kExecInVm, Exited(0, "\r\n  ERROR: x"),
                 "reported an error"},
        JudgeRow{"ERROR later is output", Op::kExecInVm, Exited(0, "line\r\nERROR: x"), nullptr},
        JudgeRow{"adb error", Op::kInputText, Exited(0, "error: device offline\r\n"),
                 "adb.exe reported an error"},
        JudgeRow{"adb: error", Op::kPullFile, Exited(0, "adb: error: failed to stat"),
                 "reported an error"},
        JudgeRow{"adb error after its server notes", Op::kPullFile,
                 Exited(0,
                        "* daemon not running; starting now\n* daemon started successfully\n"
                        "error: device offline"),
                 "reported an error"},
        JudgeRow{"clear answered", Op::kClearAppData, Exited(0, "Success\r\n"), nullptr},
        JudgeRow{"clear failed", Op::kClearAppData, Exited(0, "Failed\r\n"), "lacks"},
        JudgeRow{"running answer", Op::kIsVmRunning, Exited(0, "Not Running"), nullptr},
        JudgeRow{"waiting counts", Op::kSortWindows, Exited(0, "wait for 30000"), nullptr},
        JudgeRow{"neither", Op::kSetConfig, Exited(0, "done"), "neither"},
        // A result phrase counts only where no letter stands before it.
        JudgeRow{"randomize SUCCESS: x", Op::kRandomizeVm, Exited(0, "SUCCESS: x"), nullptr},
        JudgeRow{"rotate SUCCESS alone", Op::kRotateVm, Exited(0, "SUCCESS"), nullptr},
        JudgeRow{"input SUCCESS at a later line start", Op::kTypeText,
                 Exited(0, "note\r\nSUCCESS: input text finished.\r\n"), nullptr},
        JudgeRow{"randomize UNSUCCESSFUL", Op::kRandomizeVm, Exited(0, "UNSUCCESSFUL\r\n"),
                 "lacks \"SUCCESS\""},
        JudgeRow{"input UNSUCCESSFUL", Op::kTypeText, Exited(0, "input UNSUCCESSFUL"), "lacks"},
        JudgeRow{"setgps UNSUCCESSFUL", Op::kSetGps, Exited(0, "UNSUCCESSFUL"), "lacks"},
        JudgeRow{"rotate NOSUCCESS", Op::kRotateVm, Exited(0, "NOSUCCESS"), "lacks"},
        JudgeRow{"export NOSUCCESS", Op::kExportVm, Exited(0, "NOSUCCESS: x"), "lacks"},
        JudgeRow{"import UNSUCCESSFUL", Op::kImportVm, Exited(0, "UNSUCCESSFUL"), "lacks"},
        JudgeRow{"a later word counts", Op::kImportVm,
                 Exited(0, "UNSUCCESSFUL once\r\nSUCCESS: import vm finished.index:3"), nullptr},
        JudgeRow{"after A", Op::kRandomizeVm, Exited(0, "ASUCCESS"), "lacks"},
        JudgeRow{"after Z", Op::kRandomizeVm, Exited(0, "ZSUCCESS"), "lacks"},
        JudgeRow{"after a", Op::kRandomizeVm, Exited(0, "aSUCCESS"), "lacks"},
        JudgeRow{"after z", Op::kRandomizeVm, Exited(0, "zSUCCESS"), "lacks"},
        JudgeRow{"after at sign", Op::kRandomizeVm, Exited(0, "@SUCCESS"), nullptr},
        JudgeRow{"after bracket", Op::kRandomizeVm, Exited(0, "[SUCCESS"), nullptr},
        JudgeRow{"after backquote", Op::kRandomizeVm, Exited(0, "`SUCCESS"), nullptr},
        JudgeRow{"after brace", Op::kRandomizeVm, Exited(0, "{SUCCESS"), nullptr},
        JudgeRow{"after a digit", Op::kRandomizeVm, Exited(0, "1SUCCESS"), nullptr},
        JudgeRow{"after a blank", Op::kRandomizeVm, Exited(0, "done SUCCESS"), nullptr},
        JudgeRow{"after a two-byte character whose trail byte is A", Op::kRandomizeVm,
                 Exited(0,
                        "\x81"
                        "ASUCCESS"),
                 nullptr},
        JudgeRow{"sortwin UNSUCCESSFUL", Op::kSortWindows, Exited(0, "UNSUCCESSFUL"), "neither"},
        JudgeRow{"sortwin SUCCESS", Op::kSortWindows,
                 Exited(0, "SUCCESS: sort out all vm windows.\r\n"), nullptr},
        JudgeRow{"setconfig NOSUCCESS", Op::kSetConfig, Exited(0, "NOSUCCESS"), "neither"},
        JudgeRow{"setconfig waiting after UNSUCCESSFUL", Op::kSetConfig,
                 Exited(0, "UNSUCCESSFUL\r\nwait for 30000"), nullptr}),
    RowName());

// The window reads its replies by the phrases alone, as before: the companion's stricter
// reading is its own.
TEST(Operations, TheWindowsReadingOfAPhraseIsUnchanged) {
    EXPECT_TRUE(ReplySucceeds(Op::kRandomizeVm, "UNSUCCESSFUL"));
    EXPECT_TRUE(ReplySucceeds(Op::kSortWindows, "NOSUCCESS"));
    EXPECT_FALSE(ReplyHoldsResult(Op::kRandomizeVm, "UNSUCCESSFUL"));
    EXPECT_FALSE(ReplyHoldsResult(Op::kSortWindows, "NOSUCCESS"));
}

}  // namespace
