// The console companion's command line: one command per invocation, with global options
// before or after it. Portable: the arguments arrive as GBK texts, the result says what to run
// or what to print.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class Verb {
    kList,
    kClone,
    kStart,
    kStop,
    kReboot,
    kStopAll,
    kRunning,
    kCreate,
    kRemove,
    kCopy,
    kRename,
    kInstall,
    kUninstall,
    kStartApp,
    kStopApp,
    kShake,
    kSendKey,
    kConnect,
    kDisconnect,
    kExec,
    kSortWin,
    kGetConfig,
    kSetConfig,
    kAdb,
    kText,
    kKey,
    kTap,
    kSwipe,
    kClear,
    kScreenshot,
};

// Exit codes of the program.
enum FarmExit : int {
    kExitOk = 0,
    kExitToolFailed = 1,  // the tool's result phrase was missing, or a step of clone failed
    kExitUsage = 2,       // bad command line; nothing was run
    kExitNotFound = 3,    // no emulator found, or --install-dir holds no memuc.exe
    kExitDeadline = 4,    // --deadline passed while a tool was still running
};

enum class ConsoleVersion { kNone, k721, k722 };

// Clone numbers stay within the 12 digits of the uuid's last group.
inline constexpr int64_t kLastCloneNumber = 999999999999;

struct FarmRequest {
    Verb verb = Verb::kList;
    std::string command;  // the command word as given

    // Global options.
    std::optional<std::string> install_dir;
    bool json = false;
    std::optional<uint32_t> deadline_ms;

    // The command's arguments.
    int32_t index = 0;               // INDEX
    std::vector<int32_t> numbers;    // CODE; X Y; X1 Y1 X2 Y2
    std::vector<std::string> texts;  // the texts in usage order; for adb every ARG
    bool wait = false;
    std::optional<int32_t> timeout_ms;
    bool by_package = false;  // install INDEX -p PACKAGE (the package is texts[0])

    // clone
    int32_t master = 0;
    int64_t count = 0;
    int64_t first = 101;
    ConsoleVersion console = ConsoleVersion::kNone;
    bool dry_run = false;
};

struct ParseOutcome {
    enum class Kind { kRun, kHelp, kVersion, kUsageError };
    Kind kind = Kind::kRun;
    FarmRequest request;  // kRun
    std::string text;     // help text, version line, or the usage error's message
};

// `args` are the arguments after the program name, as GBK texts.
ParseOutcome ParseFarmArgs(const std::vector<std::string>& args, const std::string& version);

// The program's help (every command and the exit codes), and one command's help.
std::string ProgramHelp(const std::string& version);
std::string CommandHelp(const std::string& command);
