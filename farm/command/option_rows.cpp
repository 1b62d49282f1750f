#include "farm/command/option_rows.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "cloning/clone_commands.h"
#include "farm/command/limits.h"
#include "farm/command/request.h"

namespace {

using K = OptionKind;
using S = OptionScope;
using R = FarmRequest;
using V = OptionValue;

constexpr const char* kStartStopReboot = "start stop reboot";
constexpr const char* kStartReboot = "start reboot";

const std::vector<OptionRow> kOptions = {
    // Global options.
    {.name = "--install-dir",
     .kind = K::kPath,
     .value_name = "DIR",
     .what = "a folder",
     .scope = S::kGlobal,
     .front_ends = kConsoleFrontEnd,
     .help = "use the emulator in DIR (it must hold memuc.exe) instead of finding it from the\n"
             "registry and the desktop shortcuts",
     .store = [](R& r, const V& v) { r.install_dir = v.text; }},
    {.name = "--json",
     .scope = S::kGlobal,
     .front_ends = kConsoleFrontEnd,
     .help = "print one JSON document (UTF-8) instead of text",
     .store = [](R& r, const V&) { r.json = true; }},
    {.name = "--deadline",
     .kind = K::kDecimal,
     .value_name = "SECONDS",
     .low = 0.001,
     .high = kLongestSeconds,
     .what = "a number of seconds",
     .scope = S::kGlobal,
     .help = "give up when the command has not finished after SECONDS (over a set of VMs: each\n"
             "VM's work): print what there is and exit with code 4 (the tool is left running)",
     .store =
         [](R& r, const V& v) {
             r.deadline_ms = static_cast<uint32_t>(std::max(1.0, std::round(v.decimal * 1000)));
         }},

    // start, stop, reboot.
    {.name = "--wait",
     .verbs = kStartStopReboot,
     .help = "wait for memuc's answer (without it memuc is started and not waited for)",
     .store = [](R& r, const V&) { r.wait = true; }},
    {.name = "--timeout",
     .kind = K::kWhole,
     .value_name = "MS",
     .high = INT32_MAX,
     .what = "a whole number of milliseconds",
     .verbs = kStartStopReboot,
     .needs = "--wait|--boot",
     .help = "stop waiting once memuc has been silent that long after MS milliseconds",
     .store = [](R& r, const V& v) { r.timeout_ms = static_cast<int32_t>(v.whole); }},
    {.name = "--boot",
     .verbs = kStartReboot,
     .help = "then wait until Android has booted (sys.boot_completed is 1)",
     .store = [](R& r, const V&) { r.boot = true; }},
    {.name = "--boot-timeout",
     .kind = K::kDecimal,
     .value_name = "SECONDS",
     .low = 1,
     .high = kLongestSeconds,
     .what = "a number of seconds",
     .default_number = kDefaultBootTimeoutS,
     .verbs = kStartReboot,
     .needs = "--boot",
     .help = "how long --boot waits (default {=}); a VM not booted by then fails, left running",
     .store = [](R& r, const V& v) { r.boot_timeout_s = v.decimal; }},

    // Every command over a set of VMs.
    {.name = "--parallel",
     .kind = K::kWhole,
     .value_name = "N",
     .low = 1,
     .high = kMostParallel,
     .what = "a whole number",
     .default_number = 1,
     .scope = S::kSetVerbs,
     .verbs = "mcp",
     .help = "work on at most N VMs at once",
     .store = [](R& r, const V& v) { r.parallel = static_cast<int>(v.whole); }},
    {.name = "--stagger",
     .kind = K::kDecimal,
     .value_name = "SECONDS",
     .high = kLongestSeconds,
     .what = "a number of seconds",
     .default_number = 0,
     .scope = S::kSetVerbs,
     .help = "at least SECONDS between two VMs' starts (e.g. 2.5)",
     .store = [](R& r, const V& v) { r.stagger_s = v.decimal; }},

    // clone.
    {.name = "--master",
     .kind = K::kWhole,
     .value_name = "INDEX",
     .high = INT32_MAX,
     .what = "a VM index",
     .verbs = "clone",
     .required = true,
     .help = "the VM whose snapshot the clones share",
     .store = [](R& r, const V& v) { r.master = static_cast<int32_t>(v.whole); }},
    {.name = "--count",
     .kind = K::kWhole,
     .value_name = "N",
     .low = 1,
     .high = kMostClones,
     .what = "a whole number",
     .verbs = "clone",
     .required = true,
     .help = "how many linked clones to register",
     .store = [](R& r, const V& v) { r.count = v.whole; }},
    {.name = "--first",
     .kind = K::kWhole,
     .value_name = "NUMBER|next",
     .low = 1,
     .high = static_cast<double>(kLastCloneNumber),
     .what = "a clone number",
     .words = "next",
     .default_number = static_cast<double>(kFirstCloneNumber),
     .verbs = "clone",
     .help = "the first clone's number (default {=}); next: one above the highest listed VM",
     .store =
         [](R& r, const V& v) {
             r.first_next = !v.text.empty();
             if (!r.first_next) r.first = v.whole;
         }},
    {.name = "--console",
     .kind = K::kChoice,
     .value_name = "7.2.1|7.2.2|none",
     .words = "7.2.1|7.2.2|none",
     .default_word = "none",
     .verbs = "clone",
     .overwrites = true,
     .help = "first write that manager console build over MEmuConsole.exe",
     .store =
         [](R& r, const V& v) {
             r.console = v.text == "7.2.1"   ? ConsoleVersion::k721
                         : v.text == "7.2.2" ? ConsoleVersion::k722
                                             : ConsoleVersion::kNone;
         }},
    {.name = "--randomize",
     .verbs = "clone",
     .help = "give each new clone its own device identity",
     .store = [](R& r, const V&) { r.randomize = true; }},
    {.name = "--dry-run",
     .verbs = "clone",
     .help = "print the command lines and run nothing",
     .store = [](R& r, const V&) { r.dry_run = true; }},

    // install.
    {.name = "-p",
     .kind = K::kText,
     .value_name = "PACKAGE",
     .what = "a package name",
     .verbs = "install",
     .replaces = "APK",
     .help = "install the package PACKAGE instead of an APK file",
     .store =
         [](R& r, const V& v) {
             r.by_package = true;
             r.texts = {v.text};
         }},

    // health.
    {.name = "--sample",
     .kind = K::kDecimal,
     .value_name = "SECONDS",
     .low = 0.1,
     .high = 3600,
     .what = "a number of seconds",
     .default_number = kDefaultSampleS,
     .verbs = "health",
     .help = "CPU share over SECONDS (default {=})",
     .store = [](R& r, const V& v) { r.sample_s = v.decimal; }},
    {.name = "--watch",
     .kind = K::kDecimal,
     .value_name = "SECONDS",
     .low = 0.5,
     .high = kLongestSeconds,
     .what = "a number of seconds",
     .verbs = "health",
     .front_ends = kConsoleFrontEnd,
     .help = "repeat every SECONDS until Ctrl+C",
     .store = [](R& r, const V& v) { r.watch_s = v.decimal; }},
    {.name = "--prom",
     .kind = K::kPath,
     .value_name = "FILE",
     .what = "a file",
     .verbs = "health",
     .overwrites = true,
     .help = "also write the readings for Prometheus's text-file collector",
     .store = [](R& r, const V& v) { r.prom_file = v.text; }},
    {.name = "--max-cpu",
     .kind = K::kDecimal,
     .value_name = "RATIO",
     .high = 1,
     .what = "a share of all cores",
     .verbs = "health",
     .help = "unhealthy above RATIO of all cores (0.5 is half)",
     .store = [](R& r, const V& v) { r.max_cpu = v.decimal; }},
    {.name = "--max-private-mb",
     .kind = K::kDecimal,
     .value_name = "MB",
     .high = 1e7,
     .what = "a number of MiB",
     .verbs = "health",
     .help = "unhealthy above MB MiB of private bytes",
     .store = [](R& r, const V& v) { r.max_private_mb = v.decimal; }},
    {.name = "--heal",
     .verbs = "health",
     .needs = "--watch",
     .front_ends = kConsoleFrontEnd,
     .help = "start the VMs of the set that are down and restart the ones that stay unhealthy\n"
             "(memuc stop, then start and wait for the boot), within a budget",
     .store = [](R& r, const V&) { r.heal = true; }},
    {.name = "--heal-after",
     .kind = K::kWhole,
     .value_name = "N",
     .low = 1,
     .high = 1000,
     .what = "a whole number of rounds",
     .default_number = kDefaultHealAfter,
     .verbs = "health",
     .needs = "--heal",
     .front_ends = kConsoleFrontEnd,
     .help = "restart a VM once it has been unhealthy N rounds in a row (default {=})",
     .store = [](R& r, const V& v) { r.heal_after = static_cast<int>(v.whole); }},
    {.name = "--max-restarts",
     .kind = K::kWhole,
     .value_name = "N",
     .low = 1,
     .high = 1000,
     .what = "a whole number",
     .default_number = kDefaultMaxRestarts,
     .verbs = "health",
     .needs = "--heal",
     .front_ends = kConsoleFrontEnd,
     .help = "at most N starts and restarts per VM within the heal window (default {=});\n"
             "past it the VM is left as it is and flagged as given up",
     .store = [](R& r, const V& v) { r.max_restarts = static_cast<int>(v.whole); }},
    {.name = "--heal-window",
     .kind = K::kDecimal,
     .value_name = "SECONDS",
     .low = 1,
     .high = kLongestSeconds,
     .what = "a number of seconds",
     .default_number = kDefaultHealWindowS,
     .verbs = "health",
     .needs = "--heal",
     .front_ends = kConsoleFrontEnd,
     .help = "the window --max-restarts counts in (default {=}: an hour)",
     .store = [](R& r, const V& v) { r.heal_window_s = v.decimal; }},

    // mcp.
    {.name = "--max-calls",
     .kind = K::kWhole,
     .value_name = "N",
     .low = 1,
     .high = kMostMcpCalls,
     .what = "a whole number",
     .default_number = kMcpMaxCalls,
     .verbs = "mcp",
     .front_ends = kConsoleFrontEnd,
     .help = "at most N calls at once (default {=}); past it a call is answered busy",
     .store = [](R& r, const V& v) { r.max_calls = static_cast<int>(v.whole); }},
    {.name = "--vms",
     .kind = K::kVmSet,
     .value_name = "SET",
     .verbs = "mcp",
     .front_ends = kConsoleFrontEnd,
     .help = "every call acts within SET; the tools that reach past it are not offered",
     .store = [](R& r, const V& v) { r.mcp_vms = v.set; }},
    {.name = "--read-only",
     .verbs = "mcp",
     .front_ends = kConsoleFrontEnd,
     .help = "offer only the tools that only ask",
     .store = [](R& r, const V&) { r.read_only = true; }},
    {.name = "--tools",
     .kind = K::kText,
     .value_name = "NAME,...",
     .what = "tool names",
     .verbs = "mcp",
     .front_ends = kConsoleFrontEnd,
     .help = "offer only the tools named",
     .store = [](R& r, const V& v) { r.mcp_tools = v.text; }},
    {.name = "--files",
     .kind = K::kPath,
     .value_name = "DIR",
     .what = "a folder",
     .verbs = "mcp",
     .front_ends = kConsoleFrontEnd,
     .help = "the files a call names must be inside DIR",
     .store = [](R& r, const V& v) { r.mcp_files = v.text; }},
};

}  // namespace

const std::vector<OptionRow>& AllOptions() {
    return kOptions;
}

const OptionRow* FindOption(std::string_view name) {
    for (const OptionRow& row : kOptions)
        if (name == row.name) return &row;
    return nullptr;
}
