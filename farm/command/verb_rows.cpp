#include "farm/command/verb_rows.h"

#include "farm/command/request.h"
#include "farm/health/health_run.h"
#include "farm/command/option_rows.h"

namespace {

using K = VerbKind;
using J = VmJob;

// clang-format off
const std::vector<VerbRow> kVerbs = {
    {"list", K::kList, Op::kListVms, J::kOperation,
     "The VMs: index, title, window, inner window, started, pid and the pid of the VM's\n"
     "MEmuHeadless.exe process. A line of the tool's reply that cannot be read is shown on\n"
     "standard error (and under \"unreadable\" in JSON) and gives exit code 1."},
    {"clone", K::kClone, Op::kListVms, J::kOperation,
     "Takes the snapshot \"SnapshotTest\" of VM INDEX and registers N linked clones of that\n"
     "snapshot (named by the UUID its reply gives), numbered from NUMBER (default 101):\n"
     "MEmu_101, MEmu_102, ... --first next numbers on from the highest listed VM (at least\n"
     "101). When the snapshot fails no clone is registered. Each step prints a line as it ends;\n"
     "the exit code is 1 when any step failed. --randomize gives each new clone its own device\n"
     "identity right after it is registered. --console first writes that manager console\n"
     "build over MEmuConsole.exe (default none). --dry-run prints the command lines and runs\n"
     "nothing. Ctrl+C stops after the current command."},
    {"start", K::kPerVm, Op::kStartVm, J::kOperation,
     "Starts the VMs. Without --wait memuc is started and not waited for; with --wait the\n"
     "result says whether memuc reported success. --timeout MS stops waiting once memuc has\n"
     "been silent that long after MS milliseconds. --boot waits for memuc, then asks adb once\n"
     "a second until Android has booted (sys.boot_completed is 1), for at most --boot-timeout\n"
     "seconds (default 180); a VM that has not booted by then is a failure and is left running."},
    {"stop", K::kPerVm, Op::kStopVm, J::kOperation,
     "Stops the VMs; --wait and --timeout as for start."},
    {"reboot", K::kPerVm, Op::kRebootVm, J::kOperation,
     "Reboots the VMs; --wait, --timeout and --boot as for start."},
    {"stopall", K::kWhole, Op::kStopAllVms, J::kOperation,
     "Stops every VM (memuc is not waited for)."},
    {"running", K::kPerVm, Op::kIsVmRunning, J::kRunning,
     "Exit code 0 when every VM of the set is running, 1 when one is not (or the question\n"
     "could not be answered)."},
    {"create", K::kWhole, Op::kCreateVm, J::kOperation,
     "Creates a VM of TYPE (default 51)."},
    {"remove", K::kPerVm, Op::kRemoveVm, J::kOperation,
     "Deletes the VMs."},
    {"copy", K::kPerVm, Op::kCloneVm, J::kOperation,
     "Makes a full copy of each VM (memuc clone)."},
    {"rename", K::kPerVm, Op::kRenameVm, J::kOperation,
     "Gives the VMs the title TITLE."},
    {"install", K::kPerVm, Op::kInstallApk, J::kOperation,
     "Installs the APK file (a relative path is taken from the current folder), or with -p the\n"
     "package PACKAGE, in the VMs."},
    {"uninstall", K::kPerVm, Op::kUninstallApp, J::kOperation,
     "Uninstalls PACKAGE from the VMs."},
    {"startapp", K::kPerVm, Op::kStartApp, J::kOperation,
     "Starts the app PACKAGE (or PACKAGE/ACTIVITY) in the VMs."},
    {"stopapp", K::kPerVm, Op::kStopApp, J::kOperation,
     "Stops the app PACKAGE in the VMs."},
    {"shake", K::kPerVm, Op::kShakeVm, J::kOperation,
     "Shakes the VMs."},
    {"sendkey", K::kPerVm, Op::kSendKey, J::kOperation,
     "Sends the key KEY (back, home, menu, volumeup, ...) to the VMs."},
    {"connect", K::kPerVm, Op::kConnectVm, J::kOperation,
     "Connects adb to the VMs."},
    {"disconnect", K::kPerVm, Op::kDisconnectVm, J::kOperation,
     "Disconnects adb from the VMs."},
    {"exec", K::kPerVm, Op::kExecInVm, J::kOperation,
     "Runs the shell command COMMAND (one argument) in the VMs and prints its output."},
    {"sortwin", K::kWhole, Op::kSortWindows, J::kOperation,
     "Arranges the VM windows."},
    {"getconfig", K::kPerVm, Op::kGetConfig, J::kOperation,
     "Prints the setting KEY of the VMs."},
    {"setconfig", K::kPerVm, Op::kSetConfig, J::kOperation,
     "Sets KEY of the VMs to VALUE."},
    {"randomize", K::kPerVm, Op::kRandomizeVm, J::kOperation,
     "Gives each VM a new device identity (linked clones otherwise share their master's)."},
    {"input", K::kPerVm, Op::kTypeText, J::kOperation,
     "Types TEXT in the VMs through the emulator's own text input, which types any text\n"
     "(Chinese too)."},
    {"setgps", K::kPerVm, Op::kSetGps, J::kOperation,
     "Sets the VMs' location (decimal degrees)."},
    {"rotate", K::kPerVm, Op::kRotateVm, J::kOperation,
     "Turns the VMs' screens between portrait and landscape."},
    {"apps", K::kPerVm, Op::kListApps, J::kOperation,
     "Lists the third-party apps installed in the VMs."},
    {"export", K::kOneVm, Op::kExportVm, J::kOperation,
     "Exports VM INDEX to the file FILE.ova (a relative path is taken from the current folder)."},
    {"import", K::kWhole, Op::kImportVm, J::kOperation,
     "Imports a VM from FILE.ova (a relative path is taken from the current folder)."},
    {"adb", K::kPerVm, Op::kAdbCommand, J::kOperation,
     "Runs adb with ARGS against the VMs and prints its output. Everything after the SET is\n"
     "passed to adb as given, options included, each ARG as one argument."},
    {"text", K::kPerVm, Op::kInputText, J::kOperation,
     "Types TEXT in the VMs through adb's input text, exactly: printable ASCII only (the input\n"
     "command types any text), and not the two characters %s."},
    {"key", K::kPerVm, Op::kInputKeyEvent, J::kOperation,
     "Sends the Android key code CODE to the VMs."},
    {"tap", K::kPerVm, Op::kInputTap, J::kOperation,
     "Taps the VMs' screens at X, Y."},
    {"swipe", K::kPerVm, Op::kInputSwipe, J::kOperation,
     "Swipes on the VMs' screens from X1, Y1 to X2, Y2."},
    {"clear", K::kPerVm, Op::kClearAppData, J::kOperation,
     "Clears the data of the app PACKAGE in the VMs."},
    {"screenshot", K::kPerVm, Op::kPullFile, J::kScreenshot,
     "Saves each VM's screen as the PNG file FILE (a relative path is taken from the current\n"
     "folder). {index} in FILE stands for the VM's index; over more than one VM, a FILE\n"
     "without it gets \"-INDEX\" before its extension."},
    {"health", K::kHealth, Op::kListVms, J::kOperation,
     "The VMs' health (all of them by default): for each, whether it runs, its headless\n"
     "process (pid, CPU share of all cores over --sample seconds, default 1, working set,\n"
     "private bytes, uptime), whether its window answers and whether adb answers. A running\n"
     "VM is healthy when its window answers (or it has none) and adb answers, and it is below\n"
     "--max-cpu (a share of all cores, e.g. 0.5) and --max-private-mb when given. Exit code\n"
     "1 when a running VM is unhealthy. --watch repeats every SECONDS until Ctrl+C: in place\n"
     "on a console, one JSON document per line when redirected. --prom writes the readings\n"
     "for Prometheus's text-file collector (replaced whole each time; a failure keeps the\n"
     "old file and gives exit code 1). Windows and adb are asked 16 at a time by default."},
};
// clang-format on

}  // namespace

const std::vector<VerbRow>& AllVerbs() {
    return kVerbs;
}

const VerbRow* FindVerb(std::string_view name) {
    for (const VerbRow& row : kVerbs)
        if (name == row.name) return &row;
    return nullptr;
}

std::vector<Slot> VerbArguments(const VerbRow& row) {
    std::vector<Slot> slots;
    if (row.kind == VerbKind::kList || row.kind == VerbKind::kClone) return slots;
    if (row.kind == VerbKind::kPerVm || row.kind == VerbKind::kHealth)
        slots.push_back({"SET", SlotKind::kIndex});
    if (row.kind == VerbKind::kHealth) return slots;
    if (row.kind == VerbKind::kOneVm) slots.push_back({"INDEX", SlotKind::kIndex});
    for (const Slot& slot : RowOf(row.op).slots) {
        if (!slot.name || slot.kind == SlotKind::kIndex || slot.kind == SlotKind::kDeviceFile)
            continue;
        slots.push_back(slot);
    }
    return slots;
}

bool ArgumentIsOptional(const VerbRow& verb, const Slot& slot) {
    if (verb.kind == VerbKind::kHealth || slot.if_empty) return true;
    for (const OptionRow* option : OptionsOf(verb))
        if (option->replaces && std::string_view(option->replaces) == slot.name) return true;
    return false;
}

FarmRequest NewRequest(const VerbRow& verb) {
    FarmRequest request;
    request.verb = &verb;
    // Windows and adb answer health's questions quickly: 16 VMs are asked at a time.
    if (verb.kind == VerbKind::kHealth) request.parallel = kHealthParallel;
    return request;
}

Op OperationOf(const FarmRequest& request) {
    if (request.verb->op == Op::kInstallApk) return InstallOperation(request.by_package);
    return request.verb->op;
}

std::vector<Slot> TextSlots(const FarmRequest& request) {
    const Op op = OperationOf(request);
    std::vector<Slot> arguments = VerbArguments(*request.verb);
    if (op != request.verb->op) arguments = {{"SET", SlotKind::kIndex}, RowOf(op).slots[1]};
    std::vector<Slot> slots;
    for (const Slot& slot : arguments)
        if (slot.kind != SlotKind::kIndex && slot.kind != SlotKind::kInt) slots.push_back(slot);
    return slots;
}
