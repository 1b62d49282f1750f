#include "farm/command/option_rows.h"

#include <climits>
#include <cmath>

#include "cloning/clone_commands.h"
#include "farm/command/request.h"
#include "farm/run/scheduler.h"
#include "farm/command/verb_rows.h"
#include "text/number_text.h"
#include "text/gbk_text.h"

namespace {

using F = OptionForm;
using S = OptionScope;
using R = FarmRequest;
using V = OptionValue;

constexpr const char* kStartStopReboot = "start stop reboot";
constexpr const char* kStartReboot = "start reboot";

// clang-format off
const std::vector<OptionRow> kOptions = {
    // Global options.
    {"--install-dir", "DIR", F::kText, 0, 0, "a folder", nullptr, S::kGlobal, nullptr, nullptr,
     false, nullptr,
     "use the emulator in DIR (it must hold memuc.exe) instead of finding it from the\n"
     "registry and the desktop shortcuts",
     [](R& r, const V& v) { r.install_dir = v.text; }},
    {"--json", nullptr, F::kFlag, 0, 0, nullptr, nullptr, S::kGlobal, nullptr, nullptr, false,
     nullptr, "print one JSON document (UTF-8) instead of text",
     [](R& r, const V&) { r.json = true; }},
    {"--deadline", "SECONDS", F::kDecimal, 0.001, kLongestSeconds, "a number of seconds",
     nullptr, S::kGlobal, nullptr, nullptr, false, nullptr,
     "give up when the command has not finished after SECONDS (over a set of VMs: each\n"
     "VM's work): print what there is and exit with code 4 (the tool is left running)",
     [](R& r, const V& v) {
         r.deadline_ms = static_cast<uint32_t>(std::max(1.0, std::round(v.decimal * 1000)));
     }},

    // start, stop, reboot.
    {"--wait", nullptr, F::kFlag, 0, 0, nullptr, nullptr, S::kVerbs, kStartStopReboot, nullptr,
     false, nullptr, "wait for memuc's answer (without it memuc is started and not waited for)",
     [](R& r, const V&) { r.wait = true; }},
    {"--timeout", "MS", F::kWhole, 0, INT32_MAX, "a whole number of milliseconds", nullptr,
     S::kVerbs, kStartStopReboot, "--wait|--boot", false, nullptr,
     "stop waiting once memuc has been silent that long after MS milliseconds",
     [](R& r, const V& v) { r.timeout_ms = static_cast<int32_t>(v.whole); }},
    {"--boot", nullptr, F::kFlag, 0, 0, nullptr, nullptr, S::kVerbs, kStartReboot, nullptr,
     false, nullptr, "then wait until Android has booted (sys.boot_completed is 1)",
     [](R& r, const V&) { r.boot = true; }},
    {"--boot-timeout", "SECONDS", F::kDecimal, 1, kLongestSeconds, "a number of seconds",
     nullptr, S::kVerbs, kStartReboot, "--boot", false, nullptr,
     "how long --boot waits (default 180); a VM not booted by then fails, left running",
     [](R& r, const V& v) { r.boot_timeout_s = v.decimal; }},

    // Every command over a set of VMs.
    {"--parallel", "N", F::kWhole, 1, kMostParallel, "a whole number", nullptr, S::kSetVerbs,
     nullptr, nullptr, false, nullptr, "work on at most N VMs at once",
     [](R& r, const V& v) { r.parallel = static_cast<int>(v.whole); }},
    {"--stagger", "SECONDS", F::kDecimal, 0, kLongestSeconds, "a number of seconds", nullptr,
     S::kSetVerbs, nullptr, nullptr, false, nullptr,
     "at least SECONDS between two VMs' starts (e.g. 2.5)",
     [](R& r, const V& v) { r.stagger_s = v.decimal; }},

    // clone.
    {"--master", "INDEX", F::kWhole, 0, INT32_MAX, "a VM index", nullptr, S::kVerbs, "clone",
     nullptr, true, nullptr, "the VM whose snapshot the clones share",
     [](R& r, const V& v) { r.master = static_cast<int32_t>(v.whole); }},
    {"--count", "N", F::kWhole, 1, kMostClones, "a whole number", nullptr, S::kVerbs, "clone",
     nullptr, true, nullptr, "how many linked clones to register",
     [](R& r, const V& v) { r.count = v.whole; }},
    {"--first", "NUMBER|next", F::kWhole, 1, static_cast<double>(kLastCloneNumber),
     "a clone number", "next", S::kVerbs, "clone", nullptr, false, nullptr,
     "the first clone's number (default 101); next: one above the highest listed VM",
     [](R& r, const V& v) {
         r.first_next = !v.text.empty();
         if (!r.first_next) r.first = v.whole;
     }},
    {"--console", "7.2.1|7.2.2|none", F::kChoice, 0, 0, nullptr, "7.2.1|7.2.2|none", S::kVerbs, "clone",
     nullptr, false, nullptr, "first write that manager console build over MEmuConsole.exe",
     [](R& r, const V& v) {
         r.console = v.text == "7.2.1"   ? ConsoleVersion::k721
                     : v.text == "7.2.2" ? ConsoleVersion::k722
                                         : ConsoleVersion::kNone;
     }},
    {"--randomize", nullptr, F::kFlag, 0, 0, nullptr, nullptr, S::kVerbs, "clone", nullptr,
     false, nullptr, "give each new clone its own device identity",
     [](R& r, const V&) { r.randomize = true; }},
    {"--dry-run", nullptr, F::kFlag, 0, 0, nullptr, nullptr, S::kVerbs, "clone", nullptr, false,
     nullptr, "print the command lines and run nothing",
     [](R& r, const V&) { r.dry_run = true; }},

    // install.
    {"-p", "PACKAGE", F::kText, 0, 0, "a package name", nullptr, S::kVerbs, "install", nullptr,
     false, "APK", "install the package PACKAGE instead of an APK file",
     [](R& r, const V& v) {
         r.by_package = true;
         r.texts = {v.text};
     }},

    // health.
    {"--sample", "SECONDS", F::kDecimal, 0.1, 3600, "a number of seconds", nullptr, S::kVerbs,
     "health", nullptr, false, nullptr, "CPU share over SECONDS (default 1)",
     [](R& r, const V& v) { r.sample_s = v.decimal; }},
    {"--watch", "SECONDS", F::kDecimal, 0.5, kLongestSeconds, "a number of seconds", nullptr,
     S::kVerbs, "health", nullptr, false, nullptr, "repeat every SECONDS until Ctrl+C",
     [](R& r, const V& v) { r.watch_s = v.decimal; }},
    {"--prom", "FILE", F::kText, 0, 0, "a file", nullptr, S::kVerbs, "health", nullptr, false,
     nullptr, "also write the readings for Prometheus's text-file collector",
     [](R& r, const V& v) { r.prom_file = v.text; }},
    {"--max-cpu", "RATIO", F::kDecimal, 0, 1, "a share of all cores", nullptr, S::kVerbs,
     "health", nullptr, false, nullptr, "unhealthy above RATIO of all cores (0.5 is half)",
     [](R& r, const V& v) { r.max_cpu = v.decimal; }},
    {"--max-private-mb", "MB", F::kDecimal, 0, 1e7, "a number of MiB", nullptr, S::kVerbs,
     "health", nullptr, false, nullptr, "unhealthy above MB MiB of private bytes",
     [](R& r, const V& v) { r.max_private_mb = v.decimal; }},
    {"--heal", nullptr, F::kFlag, 0, 0, nullptr, nullptr, S::kVerbs, "health", "--watch", false,
     nullptr,
     "start the VMs of the set that are down and restart the ones that stay unhealthy\n"
     "(memuc stop, then start and wait for the boot), within a budget",
     [](R& r, const V&) { r.heal = true; }},
    {"--heal-after", "N", F::kWhole, 1, 1000, "a whole number of rounds", nullptr, S::kVerbs,
     "health", "--heal", false, nullptr,
     "restart a VM once it has been unhealthy N rounds in a row (default 2)",
     [](R& r, const V& v) { r.heal_after = static_cast<int>(v.whole); }},
    {"--max-restarts", "N", F::kWhole, 1, 1000, "a whole number", nullptr, S::kVerbs, "health",
     "--heal", false, nullptr,
     "at most N starts and restarts per VM within the heal window (default 3);\n"
     "past it the VM is left as it is and flagged as given up",
     [](R& r, const V& v) { r.max_restarts = static_cast<int>(v.whole); }},
    {"--heal-window", "SECONDS", F::kDecimal, 1, kLongestSeconds, "a number of seconds", nullptr,
     S::kVerbs, "health", "--heal", false, nullptr,
     "the window --max-restarts counts in (default 3600: an hour)",
     [](R& r, const V& v) { r.heal_window_s = v.decimal; }},
};
// clang-format on

bool IsWordOf(const char* list, char separator, std::string_view word) {
    for (const std::string& item : ListWords(list, separator))
        if (item == word) return true;
    return false;
}

// "a, b or c".
std::string ChoiceList(const char* words) {
    const std::vector<std::string> items = ListWords(words, '|');
    std::string list;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) list += i + 1 == items.size() ? " or " : ", ";
        list += items[i];
    }
    return list;
}

}  // namespace

std::vector<std::string> ListWords(const char* list, char separator) {
    return gbk::Split(list ? list : "", std::string(1, separator));
}

const std::vector<OptionRow>& AllOptions() {
    return kOptions;
}

const OptionRow* FindOption(std::string_view name) {
    for (const OptionRow& row : kOptions)
        if (name == row.name) return &row;
    return nullptr;
}

bool TakesOption(const VerbRow& verb, const OptionRow& option) {
    switch (option.scope) {
        case OptionScope::kGlobal:
            return true;
        case OptionScope::kSetVerbs:
            return verb.kind == VerbKind::kPerVm || verb.kind == VerbKind::kHealth;
        case OptionScope::kVerbs:
            return IsWordOf(option.verbs, ' ', verb.name);
    }
    return false;
}

std::vector<const OptionRow*> OptionsOf(const VerbRow& verb) {
    std::vector<const OptionRow*> options;
    for (const OptionRow& row : kOptions)
        if (row.scope != OptionScope::kGlobal && TakesOption(verb, row)) options.push_back(&row);
    return options;
}

std::optional<std::string> ReadOptionValue(const OptionRow& option, std::string_view text,
                                           OptionValue* value) {
    const std::string name = option.name;
    switch (option.form) {
        case OptionForm::kFlag:
            return std::nullopt;
        case OptionForm::kText:
            if (text.empty()) return name + " needs " + option.what;
            value->text = std::string(text);
            return std::nullopt;
        case OptionForm::kChoice:
            if (!IsWordOf(option.words, '|', text))
                return name + " must be " + ChoiceList(option.words) + ", not " + gbk::Quoted(text);
            value->text = std::string(text);
            return std::nullopt;
        case OptionForm::kWhole:
        case OptionForm::kDecimal:
            break;
    }
    if (IsWordOf(option.words, '|', text)) {
        value->text = std::string(text);
        return std::nullopt;
    }
    bool read = false;
    if (option.form == OptionForm::kWhole) {
        const std::optional<int64_t> whole = numtext::ParseWhole(
            text, static_cast<int64_t>(option.low), static_cast<int64_t>(option.high));
        if (whole) value->whole = *whole;
        read = whole.has_value();
    } else {
        const std::optional<double> decimal = numtext::ParseDecimal(text, option.low, option.high);
        if (decimal) value->decimal = *decimal;
        read = decimal.has_value();
    }
    if (read) return std::nullopt;
    std::string range = std::string(option.what) + " from " + numtext::LimitText(option.low) +
                        " to " + numtext::LimitText(option.high);
    if (option.words) range += ", or " + ChoiceList(option.words);
    return name + " must be " + range + ", not " + gbk::Quoted(text);
}

std::string OptionUsage(const OptionRow& option, bool brackets) {
    std::string usage = option.name;
    if (option.value_name) usage += std::string(" ") + option.value_name;
    return brackets ? "[" + usage + "]" : usage;
}

std::string VerbUsage(const VerbRow& verb) {
    std::vector<const OptionRow*> options = OptionsOf(verb);
    std::string usage;
    auto add = [&usage](const std::string& part) {
        if (!usage.empty()) usage += ' ';
        usage += part;
    };
    for (const Slot& slot : VerbArguments(verb)) {
        const OptionRow* instead = nullptr;
        for (const OptionRow* option : options)
            if (option->replaces && slot.name == std::string_view(option->replaces))
                instead = option;
        if (instead) {
            add(std::string("(") + slot.name + " | " + OptionUsage(*instead, false) + ")");
        } else if (slot.kind == SlotKind::kArgs) {
            add(std::string(slot.name) + "...");
        } else if (ArgumentIsOptional(verb, slot)) {
            add(std::string("[") + slot.name + "]");
        } else {
            add(slot.name);
        }
    }
    for (const OptionRow* option : options)
        if (!option->replaces) add(OptionUsage(*option, !option->required));
    return usage;
}
