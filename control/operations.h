// Every command line of the control module, as data: one row per operation of memuc.exe and
// adb.exe with the line's pattern, the arguments it takes (and where the line puts each text),
// how it is run and how its reply is judged. The control object and the console companion
// both build their lines here, so the two can never send different lines for one operation.
//
// A pattern is the line after the tool's file name ("memuc.exe") or, for adb, after
// "adb.exe -s 127.0.0.1:<port> ". "{NAME}" stands for the argument of the slot of that name;
// a placeholder between a pair of the pattern's own double quotes is a quoted text.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class Op {
    // memuc.exe
    kListVms,
    kCreateVm,
    kRemoveVm,
    kCloneVm,
    kStartVm,
    kStopVm,
    kStopAllVms,
    kRebootVm,
    kIsVmRunning,
    kRenameVm,
    kInstallApk,
    kInstallPackage,
    kUninstallApp,
    kStartApp,
    kStopApp,
    kShakeVm,
    kSendKey,
    kConnectVm,
    kDisconnectVm,
    kExecInVm,
    kSortWindows,
    kGetConfig,
    kSetConfig,
    kRandomizeVm,
    kTypeText,  // the emulator's own text input
    kSetGps,
    kRotateVm,
    kListApps,
    kExportVm,
    kImportVm,
    // adb.exe
    kAdbCommand,
    kInputText,
    kInputKeyEvent,
    kInputTap,
    kInputSwipe,
    kClearAppData,
    kScreenCapture,
    kPullFile,
    kRemoveDeviceFile,
    kBootCompleted,
    kScreenStream,  // the screen as PNG bytes straight from the device (through the adb server)
};

enum class Tool { kMemuc, kAdb };

// What an argument is, for the line and for the checks made before anything runs.
enum class SlotKind {
    kIndex,       // the VM index: memuc's -i, adb's port
    kInt,         // a 32-bit integer in decimal
    kLongitude,   // a decimal number from -180 to 180, written as given
    kLatitude,    // a decimal number from -90 to 90, written as given
    kText,        // free text
    kName,        // a title, key or value: no control characters
    kPackage,     // an Android package name
    kComponent,   // an Android package, or package/activity
    kLocalPath,   // a file on this computer (the caller makes it absolute)
    kDeviceText,  // text typed by the device's `input text`
    kDeviceFile,  // a file name on the device, made by the program
    kArgs,        // adb's own arguments: every remaining text, each one argument
};

struct Slot {
    const char* name = nullptr;
    SlotKind kind = SlotKind::kText;
    // The control object's lines (texts as given): ASCII and full-width blanks cut from both
    // ends, and an empty text replaced by `if_empty`. Lines with one argument per text keep
    // every text exactly.
    bool trimmed = false;
    const char* if_empty = nullptr;  // the argument's default; null: the text is required
};

// How an operation's line is run.
enum class RunMode {
    kCaptured,            // waited for, output captured
    kDetachedUnlessWait,  // started detached unless the caller waits (start, stop, reboot)
    kDetached,            // started detached, never waited for
};

// How a reply is read as the operation's result.
enum class ResultRule {
    kNone,              // no result of its own
    kPhrase,            // the phrase stands in the reply
    kPhraseAbsent,      // the phrase does not stand in the reply (isvmrunning)
    kSuccessOrWaiting,  // "SUCCESS", or failing that "wait for 30000"
    kOutput,            // the reply itself is the result
};

// Which service of the device an adb line asks for: its pattern begins with that word.
enum class DeviceService {
    kNone,   // adb.exe's own command (pull, connect, ...)
    kShell,  // "shell ...": the device's shell runs the rest
    kExec,   // "exec-out ...": the device runs the rest, its output raw bytes
};

struct OperationRow {
    Op op;
    Tool tool;
    const char* pattern;
    std::array<Slot, 5> slots;  // in the order the caller gives the arguments
    RunMode run;
    ResultRule rule;
    const char* phrase;  // kPhrase, kPhraseAbsent
    DeviceService service = DeviceService::kNone;
    // The console companion asks the adb server for it (one connection, no adb.exe start)
    // rather than adb.exe, while a server can be had.
    bool via_server = false;
};

const OperationRow& RowOf(Op op);
// Every row, in declaration order.
const std::vector<OperationRow>& AllOperations();

// The arguments of one call: the VM index, the integers and the texts, each in slot order.
struct OperationArgs {
    int32_t index = 0;
    std::vector<int32_t> numbers;
    std::vector<std::string> texts;
};

// How texts are written into a line. kAsGiven: inserted unchanged (the control object's
// lines, which its callers know). kOneArgumentEach: every text reaches the tool as one
// argument, exactly (quoted by the C runtime's rules; device text as one device shell word).
// kDeviceLine: the line adb hands the device, the arguments joined by single blanks as adb
// joins them (device text as one device shell word, nothing quoted for the C runtime).
enum class TextStyle { kAsGiven, kOneArgumentEach, kDeviceLine };

// The file names of the two tools.
inline constexpr const char* kMemucFile = "memuc.exe";
inline constexpr const char* kAdbFile = "adb.exe";
// The operation's tool's file name.
const char* OperationProgram(Op op);
// What follows the tool's file name in the operation's line, from the blank before it
// (" memuc start -i 3", " -s 127.0.0.1:21533 shell input tap 1 2").
std::string OperationToolArguments(Op op, const OperationArgs& args, TextStyle style);

// The whole command line, starting with the tool's file name.
std::string OperationLine(Op op, const OperationArgs& args, TextStyle style,
                          std::string_view memuc_file = kMemucFile);
// The line without its tool: for adb, what follows the target ("shell input tap 1 2").
std::string OperationArguments(Op op, const OperationArgs& args, TextStyle style);
// What the device runs for a shell or exec operation ("input tap 1 2"), as adb hands it over:
// the pattern after its service word, filled as kDeviceLine fills it.
std::string DeviceCommand(Op op, const OperationArgs& args);
// The service word a pattern of that service begins with ("shell", "exec-out"); empty for none.
std::string_view ServiceWord(DeviceService service);

// The window's reading of a reply: the operation's rule, and nothing else.
bool ReplySucceeds(Op op, std::string_view reply);

// "screenshot" + the tick count + ".png": the device file of one screenshot.
std::string ScreenshotFileName(int32_t tick);

// One step of a screenshot: the operation and its arguments.
struct OperationStep {
    Op op;
    OperationArgs args;
};
// A screenshot's three steps, in the order they always run whatever the one before printed
// (so that the device copy is removed): capture into the device file `name`, pull it to
// `local_path`, remove it.
std::array<OperationStep, 3> ScreenshotSteps(int32_t index, const std::string& name,
                                             const std::string& local_path);

// True when the reply to kBootCompleted says Android has booted: "1", line ends and blanks
// aside.
bool SaysBooted(std::string_view reply);

// The install operation: of an APK file, or with -p of a package by name.
inline Op InstallOperation(bool by_package) {
    return by_package ? Op::kInstallPackage : Op::kInstallApk;
}

// The device serial of VM `index`: "127.0.0.1:" + its adb port.
std::string AdbSerial(int32_t index);
// "-s " + the serial + " ": adb.exe's target.
std::string AdbTarget(int32_t index);
// The adb port of a VM, as the emulator assigns them.
int64_t AdbPort(int32_t index);
// The emulator gives VM n the adb port 21503 + 10 n.
inline constexpr int32_t kFirstAdbPort = 21503;
inline constexpr int32_t kAdbPortStep = 10;
inline constexpr int32_t kLastPort = 65535;
// The highest VM index whose adb port is a port.
inline constexpr int32_t kLastAdbIndex = (kLastPort - kFirstAdbPort) / kAdbPortStep;

// Why a text cannot be passed for a slot of this kind, or nothing when it can. Used before
// anything runs, on texts that reach the tool exactly as given: a blank text is refused where
// it cannot be valid (a name, a number, an argument with a default), kept elsewhere. The
// message does not name the slot (the caller does).
std::optional<std::string> TextProblem(const Slot& slot, std::string_view text);

// The single device shell word that makes `input text` type `text`: single-quoted, a quote
// written as '\'' and each blank as %s (which `input text` types as a blank). Only for texts
// TextProblem accepts for kDeviceText.
std::string DeviceTextWord(std::string_view text);
