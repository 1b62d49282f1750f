#include "cli/farm_args.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace {

enum class Arg { kNone, kIndex, kInt, kText, kOptionalText, kRest };

struct ArgSlot {
    const char* name = nullptr;
    Arg kind = Arg::kNone;
};

// Options a command takes besides the global ones.
enum Option : unsigned {
    kWait = 1u << 0,
    kTimeout = 1u << 1,
    kMaster = 1u << 2,
    kCount = 1u << 3,
    kFirst = 1u << 4,
    kConsole = 1u << 5,
    kDryRun = 1u << 6,
    kPackage = 1u << 7,
};

// Options that take a whole number within a range.
struct IntegerOption {
    const char* name;
    Option bit;
    int64_t low;
    int64_t high;
    const char* what;  // for the message: "--count must be <what>"
};

constexpr IntegerOption kIntegerOptions[] = {
    {"--timeout", kTimeout, 0, INT32_MAX, "a whole number of milliseconds from 0 to 2147483647"},
    {"--master", kMaster, 0, INT32_MAX, "a VM index from 0 to 2147483647"},
    {"--count", kCount, 0, INT32_MAX, "a whole number from 0 to 2147483647"},
    {"--first", kFirst, 1, kLastCloneNumber, "a clone number from 1 to 999999999999"},
};

struct CommandEntry {
    const char* name;
    Verb verb;
    std::array<ArgSlot, 5> args;
    unsigned options;
    const char* usage;  // what follows the command word
    const char* about;
};

constexpr ArgSlot kIndexArg{"INDEX", Arg::kIndex};

// clang-format off
const CommandEntry kCommands[] = {
    {"list", Verb::kList, {}, 0, "",
     "The VMs: index, title, window, inner window, started, pid and the pid of the VM's\n"
     "MEmuHeadless.exe process."},
    {"clone", Verb::kClone, {}, kMaster | kCount | kFirst | kConsole | kDryRun,
     "--master INDEX --count N [--first NUMBER] [--console 7.2.1|7.2.2|none] [--dry-run]",
     "Takes the snapshot \"SnapshotTest\" of VM INDEX and registers N linked clones of it,\n"
     "numbered from NUMBER (default 101): MEmu_101, MEmu_102, ... Each step prints a line as it\n"
     "ends; the exit code is 1 when any step failed. --console first writes that manager console\n"
     "build over MEmuConsole.exe (default none: the file is left alone). --dry-run prints the\n"
     "command lines and runs nothing. Ctrl+C stops after the current command."},
    {"start", Verb::kStart, {kIndexArg}, kWait | kTimeout, "INDEX [--wait] [--timeout MS]",
     "Starts VM INDEX. Without --wait memuc is started and not waited for (exit code 0); with\n"
     "--wait the exit code says whether it reported success. --timeout MS stops waiting once\n"
     "memuc has been silent that long after MS milliseconds."},
    {"stop", Verb::kStop, {kIndexArg}, kWait | kTimeout, "INDEX [--wait] [--timeout MS]",
     "Stops VM INDEX; --wait and --timeout as for start."},
    {"reboot", Verb::kReboot, {kIndexArg}, kWait | kTimeout, "INDEX [--wait] [--timeout MS]",
     "Reboots VM INDEX; --wait and --timeout as for start."},
    {"stopall", Verb::kStopAll, {}, 0, "", "Stops every VM (memuc is not waited for)."},
    {"running", Verb::kRunning, {kIndexArg}, 0, "INDEX",
     "Exit code 0 when VM INDEX is running, 1 when it is not."},
    {"create", Verb::kCreate, {{{"TYPE", Arg::kOptionalText}}}, 0, "[TYPE]",
     "Creates a VM of TYPE (default 51)."},
    {"remove", Verb::kRemove, {kIndexArg}, 0, "INDEX", "Deletes VM INDEX."},
    {"copy", Verb::kCopy, {kIndexArg}, 0, "INDEX", "Makes a full copy of VM INDEX (memuc clone)."},
    {"rename", Verb::kRename, {kIndexArg, {"TITLE", Arg::kText}}, 0, "INDEX TITLE",
     "Gives VM INDEX the title TITLE."},
    {"install", Verb::kInstall, {kIndexArg, {"APK", Arg::kOptionalText}}, kPackage,
     "INDEX APK | INDEX -p PACKAGE",
     "Installs the APK file (a relative path is taken from the current folder), or with -p the\n"
     "package PACKAGE, in VM INDEX."},
    {"uninstall", Verb::kUninstall, {kIndexArg, {"PACKAGE", Arg::kText}}, 0, "INDEX PACKAGE",
     "Uninstalls PACKAGE from VM INDEX."},
    {"startapp", Verb::kStartApp, {kIndexArg, {"PACKAGE", Arg::kText}}, 0, "INDEX PACKAGE",
     "Starts the app PACKAGE in VM INDEX."},
    {"stopapp", Verb::kStopApp, {kIndexArg, {"PACKAGE", Arg::kText}}, 0, "INDEX PACKAGE",
     "Stops the app PACKAGE in VM INDEX."},
    {"shake", Verb::kShake, {kIndexArg}, 0, "INDEX", "Shakes VM INDEX."},
    {"sendkey", Verb::kSendKey, {kIndexArg, {"KEY", Arg::kText}}, 0, "INDEX KEY",
     "Sends the key KEY (back, home, menu, volumeup, ...) to VM INDEX."},
    {"connect", Verb::kConnect, {kIndexArg}, 0, "INDEX", "Connects adb to VM INDEX."},
    {"disconnect", Verb::kDisconnect, {kIndexArg}, 0, "INDEX", "Disconnects adb from VM INDEX."},
    {"exec", Verb::kExec, {kIndexArg, {"COMMAND", Arg::kText}}, 0, "INDEX COMMAND",
     "Runs the shell command COMMAND (one argument) in VM INDEX and prints its output."},
    {"sortwin", Verb::kSortWin, {}, 0, "", "Arranges the VM windows."},
    {"getconfig", Verb::kGetConfig, {kIndexArg, {"KEY", Arg::kText}}, 0, "INDEX KEY",
     "Prints the setting KEY of VM INDEX."},
    {"setconfig", Verb::kSetConfig, {kIndexArg, {"KEY", Arg::kText}, {"VALUE", Arg::kText}}, 0,
     "INDEX KEY VALUE", "Sets KEY of VM INDEX to VALUE."},
    {"adb", Verb::kAdb, {kIndexArg, {"ARGS", Arg::kRest}}, 0, "INDEX ARGS...",
     "Runs adb with ARGS against VM INDEX and prints its output. Everything after the first ARG\n"
     "is passed to adb, options included."},
    {"text", Verb::kText, {kIndexArg, {"TEXT", Arg::kText}}, 0, "INDEX TEXT",
     "Types TEXT in VM INDEX."},
    {"key", Verb::kKey, {kIndexArg, {"CODE", Arg::kInt}}, 0, "INDEX CODE",
     "Sends the Android key code CODE to VM INDEX."},
    {"tap", Verb::kTap, {kIndexArg, {"X", Arg::kInt}, {"Y", Arg::kInt}}, 0, "INDEX X Y",
     "Taps VM INDEX's screen at X, Y."},
    {"swipe", Verb::kSwipe,
     {kIndexArg, {"X1", Arg::kInt}, {"Y1", Arg::kInt}, {"X2", Arg::kInt}, {"Y2", Arg::kInt}}, 0,
     "INDEX X1 Y1 X2 Y2", "Swipes on VM INDEX's screen from X1, Y1 to X2, Y2."},
    {"clear", Verb::kClear, {kIndexArg, {"PACKAGE", Arg::kText}}, 0, "INDEX PACKAGE",
     "Clears the data of the app PACKAGE in VM INDEX."},
    {"screenshot", Verb::kScreenshot, {kIndexArg, {"FILE", Arg::kText}}, 0, "INDEX FILE",
     "Saves VM INDEX's screen as the PNG file FILE (a relative path is taken from the current\n"
     "folder)."},
};
// clang-format on

constexpr const char* kUsageLine =
    "Usage: MEmuFarm [--install-dir DIR] [--json] [--deadline SECONDS] COMMAND [ARGS]\n";

constexpr const char* kGlobalOptions =
    "Options (before or after the command):\n"
    "  --install-dir DIR   use the emulator in DIR (it must hold memuc.exe) instead of\n"
    "                      finding it from the registry and the desktop shortcuts\n"
    "  --json              print one JSON document (UTF-8) instead of text\n"
    "  --deadline SECONDS  give up when the command has not finished after SECONDS: print\n"
    "                      what there is and exit with code 4 (the tool is left running)\n"
    "  --help, -h          help for the program, or for the command given\n"
    "  --version           the program's version\n";

constexpr const char* kExitCodes =
    "Exit codes:\n"
    "  0  success\n"
    "  1  the emulator's tool reported failure (its result phrase was missing, or a step of\n"
    "     clone failed)\n"
    "  2  usage error: a bad or missing argument; nothing was run\n"
    "  3  the emulator was not found (or --install-dir holds no memuc.exe)\n"
    "  4  the deadline passed while a tool was running; the tool is left running\n"
    "Commands without a result of their own exit with 0 once the tool has run.\n";

const CommandEntry* FindCommand(std::string_view name) {
    for (const CommandEntry& entry : kCommands)
        if (name == entry.name) return &entry;
    return nullptr;
}

// "-5" and "-0" are numbers, not options.
bool LooksLikeOption(const std::string& arg) {
    if (arg.size() < 2 || arg[0] != '-') return false;
    return !(arg[1] >= '0' && arg[1] <= '9');
}

// An optional '-' and decimal digits, nothing else, within [low, high].
std::optional<int64_t> ParseInteger(std::string_view text, int64_t low, int64_t high) {
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) text.remove_prefix(1);
    if (text.empty() || text.size() > 18) return std::nullopt;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (negative) value = -value;
    if (value < low || value > high) return std::nullopt;
    return value;
}

// Seconds as decimal digits with an optional fraction ("2", "0.5"), above 0 and at most
// 2147483 (the longest wait the system's millisecond timers take).
std::optional<uint32_t> ParseDeadline(std::string_view text) {
    const size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if (whole.empty() || whole.size() > 7 || fraction.size() > 9) return std::nullopt;
    if (point != std::string_view::npos && fraction.empty()) return std::nullopt;
    double seconds = 0;
    for (char c : whole) {
        if (c < '0' || c > '9') return std::nullopt;
        seconds = seconds * 10 + (c - '0');
    }
    double scale = 0.1;
    for (char c : fraction) {
        if (c < '0' || c > '9') return std::nullopt;
        seconds += (c - '0') * scale;
        scale /= 10;
    }
    if (!(seconds > 0) || seconds > 2147483.0) return std::nullopt;
    return static_cast<uint32_t>(std::max(1.0, std::round(seconds * 1000)));
}

std::string Quoted(std::string_view text) {
    std::string quoted(1, '\'');
    quoted.append(text);
    quoted += '\'';
    return quoted;
}

ParseOutcome UsageError(const std::string& message) {
    ParseOutcome outcome;
    outcome.kind = ParseOutcome::Kind::kUsageError;
    outcome.text = message;
    return outcome;
}

std::string UsageOf(const CommandEntry& entry) {
    std::string usage = std::string("MEmuFarm ") + entry.name;
    if (*entry.usage) usage += std::string(" ") + entry.usage;
    return usage;
}

// Reads one command line. Errors come back as the message; nothing is thrown.
class Parser {
public:
    explicit Parser(const std::vector<std::string>& args) : args_(args) {}

    ParseOutcome Parse(const std::string& version) {
        while (next_ < args_.size()) {
            const std::string& arg = args_[next_++];
            if (InRest()) {
                positionals_.push_back(arg);
            } else if (!options_ended_ && arg == "--") {
                options_ended_ = true;
            } else if (!options_ended_ && LooksLikeOption(arg)) {
                if (!TakeOption(arg)) return UsageError(error_);
            } else if (!command_) {
                command_ = FindCommand(arg);
                if (!command_)
                    return UsageError("unknown command " + Quoted(arg) +
                                      " (MEmuFarm --help lists the commands)");
                request_.verb = command_->verb;
                request_.command = arg;
            } else {
                positionals_.push_back(arg);
            }
        }
        ParseOutcome outcome;
        if (help_) {
            outcome.kind = ParseOutcome::Kind::kHelp;
            outcome.text = command_ ? CommandHelp(command_->name) : ProgramHelp(version);
            return outcome;
        }
        if (version_) {
            outcome.kind = ParseOutcome::Kind::kVersion;
            outcome.text = "MEmuFarm " + version + "\n";
            return outcome;
        }
        if (!command_) return UsageError("no command given (MEmuFarm --help lists the commands)");
        if (!TakePositionals() || !CheckOptions()) return UsageError(error_);
        outcome.request = std::move(request_);
        return outcome;
    }

private:
    // Everything after the first ARG of adb belongs to adb.
    bool InRest() const {
        if (!command_) return false;
        size_t before_rest = 0;
        for (const ArgSlot& arg : command_->args) {
            if (arg.kind == Arg::kRest) return positionals_.size() > before_rest;
            if (arg.kind != Arg::kNone) ++before_rest;
        }
        return false;
    }

    bool Fail(std::string message) {
        error_ = std::move(message);
        return false;
    }

    // The value of "--name=value" or of "--name value".
    bool TakeValue(const std::string& name, const std::optional<std::string>& inline_value,
                   std::string* value) {
        if (inline_value) {
            *value = *inline_value;
            return true;
        }
        if (next_ >= args_.size()) return Fail(name + " needs a value");
        *value = args_[next_++];
        return true;
    }

    bool Once(unsigned& seen, unsigned bit, const std::string& name) {
        if (seen & bit) return Fail(name + " is given twice");
        seen |= bit;
        return true;
    }

    void Store(Option bit, int64_t number) {
        switch (bit) {
            case kTimeout:
                request_.timeout_ms = static_cast<int32_t>(number);
                break;
            case kMaster:
                request_.master = static_cast<int32_t>(number);
                break;
            case kCount:
                request_.count = number;
                break;
            case kFirst:
                request_.first = number;
                break;
            default:
                break;
        }
    }

    bool TakeOption(const std::string& arg) {
        std::string name = arg;
        std::optional<std::string> inline_value;
        const size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            inline_value = arg.substr(equals + 1);
        }
        const unsigned allowed = command_ ? command_->options : 0;
        auto flag = [&](bool* target) {
            if (inline_value) return Fail(name + " takes no value");
            *target = true;
            return true;
        };
        std::string value;
        if (name == "--help" || name == "-h") return flag(&help_);
        if (name == "--version") return flag(&version_);
        if (name == "--json") return flag(&request_.json);
        if (name == "--install-dir") {
            if (!Once(global_seen_, 1, name) || !TakeValue(name, inline_value, &value))
                return false;
            if (value.empty()) return Fail("--install-dir needs a folder");
            request_.install_dir = value;
            return true;
        }
        if (name == "--deadline") {
            if (!Once(global_seen_, 2, name) || !TakeValue(name, inline_value, &value))
                return false;
            request_.deadline_ms = ParseDeadline(value);
            if (!request_.deadline_ms)
                return Fail(
                    "--deadline must be a number of seconds above 0 (at most 2147483), "
                    "not " +
                    Quoted(value));
            return true;
        }
        if (name == "--wait" && (allowed & kWait)) return flag(&request_.wait);
        if (name == "--dry-run" && (allowed & kDryRun)) return flag(&request_.dry_run);
        for (const IntegerOption& option : kIntegerOptions) {
            if (name != option.name || !(allowed & option.bit)) continue;
            if (!Once(seen_, option.bit, name) || !TakeValue(name, inline_value, &value))
                return false;
            const std::optional<int64_t> number = ParseInteger(value, option.low, option.high);
            if (!number) return Fail(name + " must be " + option.what + ", not " + Quoted(value));
            Store(option.bit, *number);
            return true;
        }
        if (name == "--console" && (allowed & kConsole)) {
            if (!Once(seen_, kConsole, name) || !TakeValue(name, inline_value, &value))
                return false;
            if (value == "7.2.1") {
                request_.console = ConsoleVersion::k721;
            } else if (value == "7.2.2") {
                request_.console = ConsoleVersion::k722;
            } else if (value == "none") {
                request_.console = ConsoleVersion::kNone;
            } else {
                return Fail("--console must be 7.2.1, 7.2.2 or none, not " + Quoted(value));
            }
            return true;
        }
        if (name == "-p" && (allowed & kPackage)) {
            if (!Once(seen_, kPackage, name) || !TakeValue(name, std::nullopt, &value))
                return false;
            request_.by_package = true;
            package_ = value;
            return true;
        }
        if (command_) return Fail("unknown option " + Quoted(arg) + " for " + command_->name);
        return Fail("unknown option " + Quoted(arg));
    }

    bool TakePositionals() {
        size_t next = 0;
        const std::string usage = " (usage: " + UsageOf(*command_) + ")";
        for (const ArgSlot& arg : command_->args) {
            if (arg.kind == Arg::kNone) break;
            const bool present = next < positionals_.size();
            if (!present) {
                if (arg.kind == Arg::kOptionalText) break;
                if (arg.kind == Arg::kRest) return Fail(std::string("missing ARGS") + usage);
                return Fail(std::string("missing ") + arg.name + usage);
            }
            const std::string& value = positionals_[next];
            switch (arg.kind) {
                case Arg::kIndex: {
                    auto index = ParseInteger(value, 0, INT32_MAX);
                    if (!index)
                        return Fail(std::string(arg.name) +
                                    " must be a VM index from 0 to 2147483647, not " +
                                    Quoted(value));
                    request_.index = static_cast<int32_t>(*index);
                    ++next;
                    break;
                }
                case Arg::kInt: {
                    auto number = ParseInteger(value, INT32_MIN, INT32_MAX);
                    if (!number)
                        return Fail(std::string(arg.name) +
                                    " must be a whole number from -2147483648 to 2147483647, "
                                    "not " +
                                    Quoted(value));
                    request_.numbers.push_back(static_cast<int32_t>(*number));
                    ++next;
                    break;
                }
                case Arg::kRest:
                    while (next < positionals_.size())
                        request_.texts.push_back(positionals_[next++]);
                    break;
                default:
                    request_.texts.push_back(value);
                    ++next;
                    break;
            }
        }
        if (next < positionals_.size())
            return Fail("unexpected argument " + Quoted(positionals_[next]) + " for " +
                        command_->name + usage);
        return true;
    }

    bool CheckOptions() {
        const std::string usage = " (usage: " + UsageOf(*command_) + ")";
        if (request_.timeout_ms && !request_.wait) return Fail("--timeout needs --wait" + usage);
        if (command_->verb == Verb::kInstall) {
            if (request_.by_package && !request_.texts.empty())
                return Fail("give APK or -p PACKAGE, not both" + usage);
            if (!request_.by_package && request_.texts.empty())
                return Fail("missing APK (or -p PACKAGE)" + usage);
            if (request_.by_package) request_.texts.push_back(package_);
        }
        if (command_->verb == Verb::kClone) {
            if (!(seen_ & kMaster)) return Fail("missing --master INDEX" + usage);
            if (!(seen_ & kCount)) return Fail("missing --count N" + usage);
            if (request_.count > 0 && request_.first > kLastCloneNumber - (request_.count - 1))
                return Fail("--first " + std::to_string(request_.first) + " with --count " +
                            std::to_string(request_.count) +
                            " would number clones beyond 999999999999");
        }
        return true;
    }

    const std::vector<std::string>& args_;
    size_t next_ = 0;
    const CommandEntry* command_ = nullptr;
    FarmRequest request_;
    std::vector<std::string> positionals_;
    std::string package_;
    std::string error_;
    unsigned seen_ = 0;         // command options given
    unsigned global_seen_ = 0;  // 1: --install-dir, 2: --deadline
    bool options_ended_ = false;
    bool help_ = false;
    bool version_ = false;
};

}  // namespace

ParseOutcome ParseFarmArgs(const std::vector<std::string>& args, const std::string& version) {
    return Parser(args).Parse(version);
}

std::string ProgramHelp(const std::string& version) {
    std::string help = "MEmuFarm " + version +
                       ": scripts a farm of MEmu emulator VMs: lists them, clones a master VM, "
                       "and drives\nmemuc and adb.\n\n";
    help += kUsageLine;
    help += "       MEmuFarm COMMAND --help\n\n";
    help += kGlobalOptions;
    help += "\nCommands:\n";
    for (const CommandEntry& entry : kCommands) {
        std::string line = std::string("  ") + entry.name;
        if (*entry.usage) line += std::string(" ") + entry.usage;
        help += line + "\n";
    }
    help += "\n";
    help += kExitCodes;
    return help;
}

std::string CommandHelp(const std::string& command) {
    const CommandEntry* entry = FindCommand(command);
    if (!entry) return {};
    std::string help = "Usage: MEmuFarm [OPTIONS] " + std::string(entry->name);
    if (*entry->usage) help += std::string(" ") + entry->usage;
    help += "\n\n" + std::string(entry->about) + "\n\n";
    help += kGlobalOptions;
    help += "\n";
    help += kExitCodes;
    return help;
}
