#include "farm/command/verb_rows.h"

#include "farm/command/limits.h"

namespace {

using K = VerbKind;
using J = VmJob;
using E = Effect;

const std::vector<VerbRow> kVerbs = {
    {.name = "list",
     .kind = K::kList,
     .op = Op::kListVms,
     .effect = E::kReadOnly,
     .idempotent = true,
     .about =
         "The VMs: index, title, window, inner window, started, pid and the pid of the VM's\n"
         "MEmuHeadless.exe process. A line of the tool's reply that cannot be read is shown on\n"
         "standard error (and under \"unreadable\" in JSON) and gives exit code 1."},
    {.name = "clone",
     .kind = K::kClone,
     .effect = E::kAdditive,
     .leaves_set = true,
     .about =
         "Takes the snapshot \"SnapshotTest\" of VM INDEX and registers N linked clones of that\n"
         "snapshot (named by the UUID its reply gives), numbered from NUMBER (default "
         "{=--first}):\n"
         "MEmu_101, MEmu_102, ... --first next numbers on from the highest listed VM (at least\n"
         "{=--first}). When the snapshot fails no clone is registered. Each step prints a line as "
         "it ends;\n"
         "the exit code is 1 when any step failed. --randomize gives each new clone its own "
         "device\n"
         "identity right after it is registered. --console first writes that manager console\n"
         "build over MEmuConsole.exe (default {=--console}). --dry-run prints the command lines "
         "and runs\n"
         "nothing. Ctrl+C stops after the current command."},
    {.name = "start",
     .kind = K::kPerVm,
     .op = Op::kStartVm,
     .effect = E::kAdditive,
     .idempotent = true,
     .about =
         "Starts the VMs. Without --wait memuc is started and not waited for; with --wait the\n"
         "result says whether memuc reported success. --timeout MS stops waiting once memuc has\n"
         "been silent that long after MS milliseconds. --boot waits for memuc, then asks adb once\n"
         "a second until Android has booted (sys.boot_completed is 1), for at most --boot-timeout\n"
         "seconds (default {=--boot-timeout}); a VM that has not booted by then is a failure and "
         "is left running."},
    {.name = "stop",
     .kind = K::kPerVm,
     .op = Op::kStopVm,
     .effect = E::kDestructive,
     .idempotent = true,
     .about = "Stops the VMs; --wait and --timeout as for start."},
    {.name = "reboot",
     .kind = K::kPerVm,
     .op = Op::kRebootVm,
     .effect = E::kDestructive,
     .about = "Reboots the VMs; --wait, --timeout and --boot as for start."},
    {.name = "stopall",
     .kind = K::kWhole,
     .op = Op::kStopAllVms,
     .effect = E::kDestructive,
     .idempotent = true,
     .leaves_set = true,
     .about = "Stops every VM (memuc is not waited for)."},
    {.name = "running",
     .kind = K::kPerVm,
     .op = Op::kIsVmRunning,
     .job = J::kRunning,
     .effect = E::kReadOnly,
     .idempotent = true,
     .about =
         "Exit code 0 when every VM of the set is running, 1 when one is not (or the question\n"
         "could not be answered)."},
    {.name = "create",
     .kind = K::kWhole,
     .op = Op::kCreateVm,
     .effect = E::kAdditive,
     .leaves_set = true,
     .about = "Creates a VM of TYPE (default {=TYPE})."},
    {.name = "remove",
     .kind = K::kPerVm,
     .op = Op::kRemoveVm,
     .effect = E::kDestructive,
     .about = "Deletes the VMs."},
    {.name = "copy",
     .kind = K::kPerVm,
     .op = Op::kCloneVm,
     .effect = E::kAdditive,
     .leaves_set = true,
     .about = "Makes a full copy of each VM (memuc clone)."},
    {.name = "rename",
     .kind = K::kPerVm,
     .op = Op::kRenameVm,
     .effect = E::kDestructive,
     .idempotent = true,
     .about = "Gives the VMs the title TITLE."},
    {.name = "install",
     .kind = K::kPerVm,
     .op = Op::kInstallApk,
     .effect = E::kAdditive,
     .idempotent = true,
     .about = "Installs the APK file (a relative path is taken from the current folder), or with "
              "-p the\n"
              "package PACKAGE, in the VMs."},
    {.name = "uninstall",
     .kind = K::kPerVm,
     .op = Op::kUninstallApp,
     .effect = E::kDestructive,
     .idempotent = true,
     .about = "Uninstalls PACKAGE from the VMs."},
    {.name = "startapp",
     .kind = K::kPerVm,
     .op = Op::kStartApp,
     .effect = E::kAdditive,
     .idempotent = true,
     .about = "Starts the app PACKAGE (or PACKAGE/ACTIVITY) in the VMs."},
    {.name = "stopapp",
     .kind = K::kPerVm,
     .op = Op::kStopApp,
     .effect = E::kDestructive,
     .idempotent = true,
     .about = "Stops the app PACKAGE in the VMs."},
    {.name = "shake",
     .kind = K::kPerVm,
     .op = Op::kShakeVm,
     .effect = E::kAdditive,
     .about = "Shakes the VMs."},
    {.name = "sendkey",
     .kind = K::kPerVm,
     .op = Op::kSendKey,
     .effect = E::kAdditive,
     .about = "Sends the key KEY (back, home, menu, volumeup, ...) to the VMs."},
    {.name = "connect",
     .kind = K::kPerVm,
     .op = Op::kConnectVm,
     .effect = E::kAdditive,
     .idempotent = true,
     .about = "Connects adb to the VMs."},
    {.name = "disconnect",
     .kind = K::kPerVm,
     .op = Op::kDisconnectVm,
     .effect = E::kDestructive,
     .idempotent = true,
     .about = "Disconnects adb from the VMs."},
    {.name = "exec",
     .kind = K::kPerVm,
     .op = Op::kExecInVm,
     .effect = E::kDestructive,
     .about = "Runs the shell command COMMAND (one argument) in the VMs and prints its output."},
    {.name = "sortwin",
     .kind = K::kWhole,
     .op = Op::kSortWindows,
     .effect = E::kAdditive,
     .idempotent = true,
     .leaves_set = true,
     .about = "Arranges the VM windows."},
    {.name = "getconfig",
     .kind = K::kPerVm,
     .op = Op::kGetConfig,
     .effect = E::kReadOnly,
     .idempotent = true,
     .about = "Prints the setting KEY of the VMs."},
    {.name = "setconfig",
     .kind = K::kPerVm,
     .op = Op::kSetConfig,
     .effect = E::kDestructive,
     .idempotent = true,
     .about = "Sets KEY of the VMs to VALUE."},
    {.name = "randomize",
     .kind = K::kPerVm,
     .op = Op::kRandomizeVm,
     .effect = E::kDestructive,
     .about =
         "Gives each VM a new device identity (linked clones otherwise share their master's)."},
    {.name = "input",
     .kind = K::kPerVm,
     .op = Op::kTypeText,
     .effect = E::kAdditive,
     .about = "Types TEXT in the VMs through the emulator's own text input, which types any text\n"
              "(Chinese too)."},
    {.name = "setgps",
     .kind = K::kPerVm,
     .op = Op::kSetGps,
     .effect = E::kDestructive,
     .idempotent = true,
     .about = "Sets the VMs' location (decimal degrees)."},
    {.name = "rotate",
     .kind = K::kPerVm,
     .op = Op::kRotateVm,
     .effect = E::kAdditive,
     .about = "Turns the VMs' screens between portrait and landscape."},
    {.name = "apps",
     .kind = K::kPerVm,
     .op = Op::kListApps,
     .effect = E::kReadOnly,
     .idempotent = true,
     .about = "Lists the third-party apps installed in the VMs."},
    {.name = "export",
     .kind = K::kOneVm,
     .op = Op::kExportVm,
     .effect = E::kAdditive,
     .idempotent = true,
     .writes_file = true,
     .about = "Exports VM INDEX to the file FILE.ova (a relative path is taken from the current "
              "folder)."},
    {.name = "import",
     .kind = K::kWhole,
     .op = Op::kImportVm,
     .effect = E::kDestructive,
     .leaves_set = true,
     .about = "Imports a VM from FILE.ova (a relative path is taken from the current folder)."},
    {.name = "adb",
     .kind = K::kPerVm,
     .op = Op::kAdbCommand,
     .effect = E::kDestructive,
     .leaves_set = true,
     // Not over the web: adb's own words may name any file on this PC (pull writes one, push
     // and install read one), which no --files rule can see.
     .front_ends = kConsoleFrontEnd | kMcpFrontEnd,
     .about =
         "Runs adb with ARGS against the VMs and prints its output. Everything after the SET is\n"
         "passed to adb as given, options included, each ARG as one argument."},
    {.name = "text",
     .kind = K::kPerVm,
     .op = Op::kInputText,
     .effect = E::kAdditive,
     .about = "Types TEXT in the VMs through adb's input text, exactly: printable ASCII only (the "
              "input\n"
              "command types any text), and not the two characters %s."},
    {.name = "key",
     .kind = K::kPerVm,
     .op = Op::kInputKeyEvent,
     .effect = E::kAdditive,
     .about = "Sends the Android key code CODE to the VMs."},
    {.name = "tap",
     .kind = K::kPerVm,
     .op = Op::kInputTap,
     .effect = E::kAdditive,
     .about = "Taps the VMs' screens at X, Y."},
    {.name = "swipe",
     .kind = K::kPerVm,
     .op = Op::kInputSwipe,
     .effect = E::kAdditive,
     .about = "Swipes on the VMs' screens from X1, Y1 to X2, Y2."},
    {.name = "clear",
     .kind = K::kPerVm,
     .op = Op::kClearAppData,
     .effect = E::kDestructive,
     .idempotent = true,
     .about = "Clears the data of the app PACKAGE in the VMs."},
    {.name = "screenshot",
     .kind = K::kPerVm,
     .op = Op::kPullFile,
     .job = J::kScreenshot,
     .effect = E::kReadOnly,
     .idempotent = true,
     .writes_file = true,
     .about =
         "Saves each VM's screen as the PNG file FILE (a relative path is taken from the current\n"
         "folder). {index} in FILE stands for the VM's index; over more than one VM, a FILE\n"
         "without it gets \"-INDEX\" before its extension."},
    {.name = "health",
     .kind = K::kHealth,
     .effect = E::kReadOnly,
     .idempotent = true,
     .defaults = {{"--parallel", kHealthParallel}},
     .about =
         "The VMs' health (all of them by default): for each, whether it runs, its headless\n"
         "process (pid, CPU share of all cores over --sample seconds, default {=--sample}, working "
         "set,\n"
         "private bytes, uptime), whether its window answers and whether adb answers. A running\n"
         "VM is healthy when its window answers (or it has none) and adb answers, and it is below\n"
         "--max-cpu (a share of all cores, e.g. 0.5) and --max-private-mb when given. Exit code\n"
         "1 when a running VM is unhealthy. --watch repeats every SECONDS until Ctrl+C: in place\n"
         "on a console, one JSON document per line when redirected. --prom writes the readings\n"
         "for Prometheus's text-file collector (replaced whole each time; a failure keeps the\n"
         "old file and gives exit code 1). Windows and adb are asked {=--parallel} at a time by "
         "default."},
    {.name = "mcp",
     .kind = K::kList,
     .effect = E::kAdditive,
     .front_ends = kConsoleFrontEnd,
     .defaults = {{"--parallel", kMcpStartsInFlight}, {"--deadline", kMcpCallSeconds}},
     .meanings = {{"--parallel",
                   "at most N tool starts in flight across all calls (default {=}); each call's "
                   "own parallel still bounds its VMs"}},
     .about =
         "Serves the farm's commands as tools to an AI agent over the Model Context Protocol\n"
         "(JSON-RPC on standard input and output; notes on standard error) until its input ends.\n"
         "Each call runs like one MEmuFarm command and answers with its JSON document and its\n"
         "text. --parallel bounds the tool starts in flight across all calls (default\n"
         "{=--parallel}), --deadline each whole call (default {=--deadline}; a call may ask for "
         "less),\n"
         "--max-calls the calls at once (default {=--max-calls}). The owner's limits: --vms SET "
         "(every\n"
         "call acts within SET), --read-only (only the tools that only ask), --tools NAME,... "
         "(only\n"
         "those), --files DIR (the files a call names must be inside DIR; without it no tool\n"
         "writes a file on this PC and screenshot answers with images only)."},
    {.name = "serve",
     .kind = K::kList,
     .effect = E::kAdditive,
     .front_ends = kConsoleFrontEnd,
     .defaults = {{"--parallel", kMcpStartsInFlight}, {"--deadline", kMcpCallSeconds}},
     .meanings = {{"--parallel",
                   "at most N tool starts in flight across all requests (default {=}); each "
                   "request's own --parallel still bounds its VMs"}},
     .about =
         "Serves the farm's commands over HTTP until Ctrl+C: POST /api/run with\n"
         "{\"argv\": [\"list\"]} runs one command as --json would and answers with its document\n"
         "(200 done, 422 refused, 500 failed, 503 no emulator, 504 past the deadline; the exit\n"
         "code in the body); POST /mcp speaks MCP (Streamable HTTP) to agents with mcp's tools\n"
         "(--max-sessions, --session-idle); GET / is the farm page, a tile for each VM with its\n"
         "screen and health (--health-interval, --thumb-interval), opened once with the printed\n"
         "address; GET /healthz answers whether it runs. It listens on {=--listen} by\n"
         "default, plain HTTP, for this PC or a LAN; put a reverse proxy with TLS in front of it\n"
         "for more. Every request but /healthz needs the token (Authorization: Bearer TOKEN): "
         "made\n"
         "on the first start and kept for this user (%LOCALAPPDATA%\\MEmuFarm\\token), or read\n"
         "from --token-file; the address printed at start holds it. The Host must be this\n"
         "server's address, localhost or an --allow-host name; an Origin must match it. The\n"
         "bounds and the owner's limits are mcp's: --parallel (default {=--parallel}), --deadline\n"
         "(default {=--deadline}), --max-calls (default {=--max-calls}), --vms, --read-only,\n"
         "--tools, --files. adb is not served (its words may name any file on this PC)."},
};

}  // namespace

const std::vector<VerbRow>& AllVerbs() {
    return kVerbs;
}

const VerbRow* FindVerb(std::string_view name) {
    for (const VerbRow& row : kVerbs)
        if (name == row.name) return &row;
    return nullptr;
}
