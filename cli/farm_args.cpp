#include "cli/farm_args.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <string_view>

#include "cloning/clone_commands.h"
#include "farm/health_run.h"
#include "farm/scheduler.h"
#include "farm/verb_table.h"

namespace {

constexpr const char* kUsageLine =
    "Usage: MEmuFarm [--install-dir DIR] [--json] [--deadline SECONDS] COMMAND [ARGS]\n";

constexpr const char* kGlobalOptions =
    "Options (before or after the command):\n"
    "  --install-dir DIR   use the emulator in DIR (it must hold memuc.exe) instead of\n"
    "                      finding it from the registry and the desktop shortcuts\n"
    "  --json              print one JSON document (UTF-8) instead of text\n"
    "  --deadline SECONDS  give up when the command has not finished after SECONDS (over a\n"
    "                      set of VMs: each VM's work): print what there is and exit with\n"
    "                      code 4 (the tool is left running)\n"
    "  --help, -h          help for the program, or for the command given\n"
    "  --version           the program's version\n";

constexpr const char* kSetOptions =
    "Over a SET of VMs (3, 101-150, 3,5,101-110, all, running or stopped):\n"
    "  --parallel N        work on at most N VMs at once (1 to 64, default 1)\n"
    "  --stagger SECONDS   at least SECONDS between two VMs' starts (e.g. 2.5)\n"
    "Each VM's result is printed as it finishes; the exit code is 1 when any VM failed.\n";

constexpr const char* kExitCodes =
    "Exit codes:\n"
    "  0  success\n"
    "  1  a tool failed, did not start or reported an error (or its result phrase was\n"
    "     missing); a step of clone failed; a VM of the set failed\n"
    "  2  usage error: a bad or missing argument; nothing was run\n"
    "  3  the emulator was not found (or --install-dir holds no memuc.exe)\n"
    "  4  the deadline passed while a tool was running; the tool is left running\n";

// Options a command takes, with the bit that allows them and the value they read.
struct OptionRow {
    const char* name;
    uint32_t bit;
    const char* value;  // null: a flag
};

constexpr OptionRow kCommandOptions[] = {
    {"--wait", kOptWait, nullptr},      {"--timeout", kOptTimeout, "MS"},
    {"--boot", kOptBoot, nullptr},      {"--boot-timeout", kOptBoot, "SECONDS"},
    {"--parallel", kOptParallel, "N"},  {"--stagger", kOptParallel, "SECONDS"},
    {"--master", kOptMaster, "INDEX"},  {"--count", kOptCount, "N"},
    {"--first", kOptFirst, "NUMBER"},   {"--console", kOptConsole, "VERSION"},
    {"--dry-run", kOptDryRun, nullptr}, {"--randomize", kOptRandomize, nullptr},
    {"-p", kOptPackage, "PACKAGE"},     {"--sample", kOptHealth, "SECONDS"},
    {"--watch", kOptHealth, "SECONDS"}, {"--prom", kOptHealth, "FILE"},
    {"--max-cpu", kOptHealth, "RATIO"}, {"--max-private-mb", kOptHealth, "MB"},
};

std::string Quoted(std::string_view text) {
    std::string quoted(1, '\'');
    quoted.append(text);
    quoted += '\'';
    return quoted;
}

std::string UsageOf(const VerbRow& row) {
    std::string usage = std::string("MEmuFarm ") + row.name;
    if (*row.usage) usage += std::string(" ") + row.usage;
    return usage;
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

// A number as decimal digits with an optional fraction ("2", "0.5"), within [low, high]:
// seconds, shares and MiB.
std::optional<double> ParseDecimal(std::string_view text, double low, double high) {
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
    if (seconds < low || seconds > high) return std::nullopt;
    return seconds;
}

// More clones than any one PC runs; a larger count is a mistake, and a dry run of it would
// only fill the memory with lines.
constexpr int64_t kMostClones = 100000;

// The longest wait the system's millisecond timers take.
constexpr double kLongestSeconds = 2147483.0;

// What CLI11 placed, before it is checked.
struct Raw {
    std::vector<std::string> install_dir;
    std::vector<std::string> deadline;
    int json = 0;
    std::string positionals[6];
    std::map<std::string, std::vector<std::string>> values;  // options with a value
    std::map<std::string, int> flags;
};

class Reader {
public:
    explicit Reader(std::string version) : version_(std::move(version)) {}

    ParseOutcome Read(const std::vector<std::string>& args) {
        args_ = args;
        CLI::App app("MEmuFarm", "MEmuFarm");
        Configure(app);
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        try {
            app.parse(reversed);
        } catch (const CLI::CallForHelp&) {
            return Help(app);
        } catch (const CLI::CallForVersion&) {
            ParseOutcome outcome;
            outcome.kind = ParseOutcome::Kind::kVersion;
            outcome.text = "MEmuFarm " + version_ + "\n";
            return outcome;
        } catch (const CLI::ParseError& error) {
            // A word CLI11 could not place explains a missing argument better than CLI11 does.
            if (std::optional<std::string> extra = Extra(app, Parsed(app))) return Error(*extra);
            return Error(Explain(app, error));
        }
        const CLI::App* sub = Parsed(app);
        if (std::optional<std::string> extra = Extra(app, sub)) return Error(*extra);
        if (!sub) return Error("no command given (MEmuFarm --help lists the commands)");
        row_ = FindVerb(sub->get_name());
        request_.verb = row_;
        if (row_->op == Op::kAdbCommand) request_.texts = sub->remaining();
        if (!Check()) return Error(error_);
        ParseOutcome outcome;
        outcome.request = std::move(request_);
        return outcome;
    }

private:
    void Configure(CLI::App& app) {
        app.set_help_flag("-h,--help");
        app.set_version_flag("--version", version_);
        app.allow_extras();  // unknown words come back in remaining(): our own messages
        // CLI11 reads "/word" as an option on Windows; here it is a text or a path.
        app.allow_windows_style_options(false);
        app.require_subcommand(0, 1);
        app.add_option("--install-dir", raw_.install_dir)->allow_extra_args(false);
        app.add_option("--deadline", raw_.deadline)->allow_extra_args(false);
        app.add_flag("--json", raw_.json)->disable_flag_override();
        for (const VerbRow& row : AllVerbs()) {
            CLI::App* sub = app.add_subcommand(row.name);
            sub->set_help_flag("-h,--help");
            sub->allow_windows_style_options(false);
            const std::vector<Slot> slots = VerbArguments(row);
            size_t position = 0;
            for (const Slot& slot : slots) {
                if (slot.kind == SlotKind::kArgs) {
                    // Everything after the SET is adb's, as given: CLI11 hands it back whole.
                    sub->prefix_command();
                    break;
                }
                CLI::Option* option = sub->add_option(slot.name, raw_.positionals[position++]);
                option->allow_extra_args(false);
                const bool optional =
                    slot.if_empty || (row.options & kOptPackage) || row.kind == VerbKind::kHealth;
                if (!optional) option->required();
            }
            if (row.op != Op::kAdbCommand) sub->fallthrough();  // global options after it too
            for (const OptionRow& option : kCommandOptions) {
                if (!(row.options & option.bit)) continue;
                if (option.value) {
                    sub->add_option(option.name, raw_.values[option.name])->allow_extra_args(false);
                } else {
                    sub->add_flag(option.name, raw_.flags[option.name])->disable_flag_override();
                }
            }
        }
    }

    static const CLI::App* Parsed(const CLI::App& app) {
        const std::vector<CLI::App*> subs = app.get_subcommands();
        return subs.empty() ? nullptr : subs.front();
    }

    ParseOutcome Help(const CLI::App& app) const {
        ParseOutcome outcome;
        outcome.kind = ParseOutcome::Kind::kHelp;
        const CLI::App* sub = Parsed(app);
        outcome.text = sub ? CommandHelp(sub->get_name()) : ProgramHelp(version_);
        return outcome;
    }

    ParseOutcome Error(std::string message) {
        ParseOutcome outcome;
        outcome.kind = ParseOutcome::Kind::kUsageError;
        outcome.text = std::move(message);
        outcome.request.json = raw_.json > 0;
        return outcome;
    }

    // The first word CLI11 could not place: an unknown command, an option that is unknown or
    // belongs after the command, or an argument too many.
    std::optional<std::string> Extra(const CLI::App& app, const CLI::App* sub) const {
        const std::vector<std::string> left = app.remaining();
        if (left.empty()) return std::nullopt;
        const std::string& word = left.front();
        const bool option = word.size() > 1 && word[0] == '-';
        if (!sub) {
            if (!option)
                return "unknown command " + Quoted(word) + " (MEmuFarm --help lists the commands)";
            if (const char* owner = CommandTaking(word))
                return Quoted(word) + " goes after the command it belongs to (MEmuFarm " + owner +
                       " ... " + word + ")";
            return "unknown option " + Quoted(word);
        }
        const VerbRow& row = *FindVerb(sub->get_name());
        const std::string usage = " (usage: " + UsageOf(row) + ")";
        if (option && BeforeCommand(word, row.name) && Takes(row, word))
            return Quoted(word) + " goes after the command: " + UsageOf(row);
        if (option) return "unknown option " + Quoted(word) + " for " + row.name + usage;
        return "unexpected argument " + Quoted(word) + " for " + row.name + usage;
    }

    // True when `word` stands before the command word `command` in the arguments.
    bool BeforeCommand(const std::string& word, const char* command) const {
        for (size_t i = 0; i < args_.size(); ++i) {
            if (args_[i] == command) return false;
            if (args_[i] == word) return true;
            if (args_[i] == "--install-dir" || args_[i] == "--deadline") ++i;  // and its value
        }
        return false;
    }

    static bool Takes(const VerbRow& row, const std::string& word) {
        const std::string name = word.substr(0, word.find('='));
        for (const OptionRow& option : kCommandOptions)
            if (name == option.name && (row.options & option.bit)) return true;
        return false;
    }

    // A command that takes the option, for the message about its place.
    static const char* CommandTaking(const std::string& word) {
        const std::string name = word.substr(0, word.find('='));
        for (const OptionRow& option : kCommandOptions) {
            if (name != option.name) continue;
            for (const VerbRow& row : AllVerbs())
                if (row.options & option.bit) return row.name;
        }
        return nullptr;
    }

    std::string Explain(const CLI::App& app, const CLI::ParseError& error) const {
        const CLI::App* sub = Parsed(app);
        const std::string usage =
            sub ? " (usage: " + UsageOf(*FindVerb(sub->get_name())) + ")" : std::string();
        std::string what = error.what();
        if (dynamic_cast<const CLI::RequiredError*>(&error)) {
            // "SET is required": name the first missing argument.
            return "missing " + what.substr(0, what.find(' ')) + usage;
        }
        if (what.find("disallowed flag override") != std::string::npos)
            return "--" + what.substr(0, what.find(' ')) + " takes no value";
        const size_t dash = what.find('-');
        if (dash != std::string::npos && what.find("required") != std::string::npos) {
            const std::string name = what.substr(dash, what.find_first_of(" :", dash) - dash);
            return name + " needs a value" + usage;
        }
        return what + usage;
    }

    bool Fail(std::string message) {
        error_ = std::move(message);
        return false;
    }

    std::string UsageNote() const { return " (usage: " + UsageOf(*row_) + ")"; }

    // The option's one value, or nothing when it is not given; a second one is an error.
    bool Value(const char* name, std::optional<std::string>* value) {
        const auto found = raw_.values.find(name);
        if (found == raw_.values.end() || found->second.empty()) return true;
        if (found->second.size() > 1) return Fail(std::string(name) + " is given twice");
        *value = found->second.front();
        return true;
    }

    bool Flag(const char* name) const {
        const auto found = raw_.flags.find(name);
        return found != raw_.flags.end() && found->second > 0;
    }

    // The option's value as `parse` reads it, into `target`; left as it is when the option is
    // not given.
    template <typename T, typename Parse>
    bool Parsed(const char* name, const Parse& parse, const char* what, T* target) {
        std::optional<std::string> text;
        if (!Value(name, &text)) return false;
        if (!text) return true;
        const auto value = parse(*text);
        if (!value) return Fail(std::string(name) + " must be " + what + ", not " + Quoted(*text));
        *target = static_cast<T>(*value);
        return true;
    }

    template <typename T>
    bool Number(const char* name, int64_t low, int64_t high, const char* what, T* target) {
        const auto parse = [low, high](std::string_view text) {
            return ParseInteger(text, low, high);
        };
        return Parsed(name, parse, what, target);
    }

    template <typename T>
    bool Decimal(const char* name, double low, double high, const char* what, T* target) {
        const auto parse = [low, high](std::string_view text) {
            return ParseDecimal(text, low, high);
        };
        return Parsed(name, parse, what, target);
    }

    bool CheckGlobals() {
        request_.json = raw_.json > 0;
        if (raw_.install_dir.size() > 1) return Fail("--install-dir is given twice");
        if (raw_.deadline.size() > 1) return Fail("--deadline is given twice");
        if (!raw_.install_dir.empty()) {
            if (raw_.install_dir.front().empty()) return Fail("--install-dir needs a folder");
            request_.install_dir = raw_.install_dir.front();
        }
        if (!raw_.deadline.empty()) {
            const std::optional<double> seconds =
                ParseDecimal(raw_.deadline.front(), 0.001, kLongestSeconds);
            if (!seconds)
                return Fail(
                    "--deadline must be a number of seconds above 0 (at most 2147483), "
                    "not " +
                    Quoted(raw_.deadline.front()));
            request_.deadline_ms =
                static_cast<uint32_t>(std::max(1.0, std::round(*seconds * 1000)));
        }
        return true;
    }

    bool CheckArguments() {
        const std::vector<Slot> slots = VerbArguments(*row_);
        size_t position = 0;
        for (const Slot& slot : slots) {
            if (slot.kind == SlotKind::kArgs) {
                if (request_.texts.empty()) return Fail("missing ARGS" + UsageNote());
                break;
            }
            const std::string& text = raw_.positionals[position++];
            if (slot.kind == SlotKind::kIndex && row_->kind == VerbKind::kHealth) {
                if (text.empty()) continue;  // all VMs
                std::string why;
                request_.set = ParseVmSet(text, &why);
                if (!request_.set) return Fail(why + UsageNote());
            } else if (slot.kind == SlotKind::kIndex && row_->kind == VerbKind::kPerVm) {
                std::string why;
                request_.set = ParseVmSet(text, &why);
                if (!request_.set) return Fail(why + UsageNote());
            } else if (slot.kind == SlotKind::kIndex) {
                const std::optional<int64_t> index = ParseInteger(text, 0, INT32_MAX);
                if (!index)
                    return Fail(std::string(slot.name) +
                                " must be a VM index from 0 to 2147483647, not " + Quoted(text));
                VmSet single;
                single.indexes = {static_cast<int32_t>(*index)};
                single.single = true;
                request_.set = single;
            } else if (slot.kind == SlotKind::kInt) {
                const std::optional<int64_t> number = ParseInteger(text, INT32_MIN, INT32_MAX);
                if (!number)
                    return Fail(std::string(slot.name) +
                                " must be a whole number from -2147483648 to 2147483647, not " +
                                Quoted(text));
                request_.numbers.push_back(static_cast<int32_t>(*number));
            } else {
                request_.texts.push_back(text);  // an empty one is refused by its slot's rule
            }
        }
        return true;
    }

    bool CheckInstall() {
        std::optional<std::string> package;
        if (!Value("-p", &package)) return false;
        const bool has_apk = !raw_.positionals[1].empty();
        if (package && has_apk) return Fail("give APK or -p PACKAGE, not both" + UsageNote());
        if (!package && !has_apk) return Fail("missing APK (or -p PACKAGE)" + UsageNote());
        request_.by_package = package.has_value();
        request_.texts = {package ? *package : raw_.positionals[1]};
        return true;
    }

    bool CheckStartOptions() {
        request_.wait = Flag("--wait");
        request_.boot = Flag("--boot");
        int32_t timeout_ms = 0;
        if (!Number("--timeout", 0, INT32_MAX,
                    "a whole number of milliseconds from 0 to 2147483647", &timeout_ms))
            return false;
        if (!raw_.values["--timeout"].empty()) request_.timeout_ms = timeout_ms;
        if (request_.timeout_ms && !request_.wait && !request_.boot)
            return Fail("--timeout needs --wait (or --boot)" + UsageNote());
        const bool boot_timeout_given = !raw_.values["--boot-timeout"].empty();
        if (!Decimal("--boot-timeout", 1, kLongestSeconds, "a number of seconds from 1 to 2147483",
                     &request_.boot_timeout_s))
            return false;
        if (boot_timeout_given && !request_.boot)
            return Fail("--boot-timeout needs --boot" + UsageNote());
        return true;
    }

    bool CheckSetOptions() {
        if (!Number("--parallel", 1, kMostParallel, "a whole number from 1 to 64",
                    &request_.parallel))
            return false;
        return Decimal("--stagger", 0, kLongestSeconds, "a number of seconds from 0 to 2147483",
                       &request_.stagger_s);
    }

    bool CheckClone() {
        if (raw_.values["--master"].empty()) return Fail("missing --master INDEX" + UsageNote());
        if (raw_.values["--count"].empty()) return Fail("missing --count N" + UsageNote());
        if (!Number("--master", 0, INT32_MAX, "a VM index from 0 to 2147483647",
                    &request_.master) ||
            !Number("--count", 1, kMostClones, "a whole number from 1 to 100000", &request_.count))
            return false;
        std::optional<std::string> first;
        if (!Value("--first", &first)) return false;
        if (first && *first == "next") {
            request_.first_next = true;
        } else if (!Number("--first", 1, kLastCloneNumber,
                           "a clone number from 1 to 999999999999, or next", &request_.first)) {
            return false;
        }
        request_.dry_run = Flag("--dry-run");
        request_.randomize = Flag("--randomize");
        if (!request_.first_next && !CloneNumbersFit(request_.first, request_.count))
            return Fail("--first " + std::to_string(request_.first) + " with --count " +
                        std::to_string(request_.count) +
                        " would number clones beyond 999999999999");
        if (request_.randomize && request_.first + request_.count - 1 > INT32_MAX)
            return Fail("--randomize needs clone numbers up to 2147483647, the highest VM index");
        std::optional<std::string> console;
        if (!Value("--console", &console)) return false;
        if (console) {
            if (*console == "7.2.1") {
                request_.console = ConsoleVersion::k721;
            } else if (*console == "7.2.2") {
                request_.console = ConsoleVersion::k722;
            } else if (*console != "none") {
                return Fail("--console must be 7.2.1, 7.2.2 or none, not " + Quoted(*console));
            }
        }
        return true;
    }

    bool CheckHealth() {
        request_.parallel = kHealthParallel;
        if (!CheckSetOptions()) return false;
        if (!Decimal("--sample", 0.1, 3600, "a number of seconds from 0.1 to 3600",
                     &request_.sample_s))
            return false;
        if (!Decimal("--watch", 0.5, kLongestSeconds, "a number of seconds from 0.5 to 2147483",
                     &request_.watch_s))
            return false;
        if (!Decimal("--max-cpu", 0, 1, "a share of all cores from 0 to 1 (0.5 is half)",
                     &request_.max_cpu))
            return false;
        if (!Decimal("--max-private-mb", 0, 1e7, "a number of MiB from 0 to 10000000",
                     &request_.max_private_mb))
            return false;
        std::optional<std::string> prom;
        if (!Value("--prom", &prom)) return false;
        if (prom && prom->empty()) return Fail("--prom needs a file");
        request_.prom_file = prom;
        return true;
    }

    bool Check() {
        if (!CheckGlobals()) return false;
        if (row_->kind == VerbKind::kHealth) return CheckArguments() && CheckHealth();
        if (row_->kind == VerbKind::kClone) return CheckClone();
        if (row_->options & kOptPackage) {
            if (!CheckArguments() || !CheckInstall()) return false;
        } else if (!CheckArguments()) {
            return false;
        }
        if ((row_->options & (kOptWait | kOptBoot)) && !CheckStartOptions()) return false;
        if ((row_->options & kOptParallel) && !CheckSetOptions()) return false;
        return true;
    }

    std::string version_;
    std::vector<std::string> args_;
    Raw raw_;
    const VerbRow* row_ = nullptr;
    FarmRequest request_;
    std::string error_;
};

}  // namespace

ParseOutcome ParseFarmArgs(const std::vector<std::string>& args, const std::string& version) {
    return Reader(version).Read(args);
}

bool AsksForJson(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        // After "--", and after adb's command word, every word is a text or adb's own.
        if (arg == "--" || arg == "adb") return false;
        if (arg == "--json") return true;
    }
    return false;
}

std::string ProgramHelp(const std::string& version) {
    std::string help = "MEmuFarm " + version +
                       ": scripts a farm of MEmu emulator VMs: lists them, clones a master VM, "
                       "and drives\nmemuc and adb over one VM or a whole set of them.\n\n";
    help += kUsageLine;
    help += "       MEmuFarm COMMAND --help\n\n";
    help += kGlobalOptions;
    help += "\nCommands:\n";
    for (const VerbRow& row : AllVerbs()) {
        std::string line = std::string("  ") + row.name;
        if (*row.usage) line += std::string(" ") + row.usage;
        help += line + "\n";
    }
    help += "\n";
    help += kSetOptions;
    help += "\n";
    help += kExitCodes;
    return help;
}

std::string CommandHelp(const std::string& command) {
    const VerbRow* row = FindVerb(command);
    if (!row) return {};
    std::string help = "Usage: MEmuFarm [OPTIONS] " + std::string(row->name);
    if (*row->usage) help += std::string(" ") + row->usage;
    help += "\n\n" + std::string(row->about) + "\n\n";
    help += kGlobalOptions;
    if (row->options & kOptParallel) help += "\n" + std::string(kSetOptions);
    help += "\n";
    help += kExitCodes;
    return help;
}
