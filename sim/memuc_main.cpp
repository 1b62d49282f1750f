// Simulated memuc.exe: the emulator's VM command tool. Answers with the result phrases the
// control module looks for and keeps its VMs in the state file of the simulated installation.
// It exits with 1 whenever its reply begins with "ERROR", else with 0.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "sim/sim_common.h"

namespace {

constexpr const char kExportMark[] = "MEmuSim OVA";

struct Request {
    std::string command;  // first word that is not "memuc" and not an option
    int index = -1;       // value of -i, -1 when absent
    bool has_index = false;
    std::vector<std::string> rest;  // words after the command
};

// Only the first whole argument "-i" is the option: a later "-i", or one inside a text
// argument, is text.
Request ParseRequest(const std::vector<std::string>& args) {
    Request request;
    bool seen_index = false;
    size_t i = 0;
    // Most sub-commands repeat the tool's name as their first word.
    if (i < args.size() && args[i] == "memuc") ++i;
    for (; i < args.size(); ++i) {
        if (!seen_index && args[i] == "-i" && i + 1 < args.size()) {
            seen_index = true;
            request.has_index = sim::ParseInt(args[i + 1], &request.index);
            ++i;
        } else if (request.command.empty()) {
            request.command = args[i];
        } else {
            request.rest.push_back(args[i]);
        }
    }
    return request;
}

std::string NoSuchVm(const Request& request) {
    return "ERROR: no VM with index " + (request.has_index ? std::to_string(request.index) : "?") +
           "\r\n";
}

// A VM whose process has gone away is no longer running.
bool ForgetDeadProcesses(std::vector<sim::Vm>& vms) {
    bool changed = false;
    for (sim::Vm& vm : vms) {
        if (vm.started && !sim::IsProcessAlive(vm.pid)) {
            sim::MarkStopped(vm);
            changed = true;
        }
    }
    return changed;
}

// VM processes started by this call, waited for once the state is written.
struct StartedVm {
    uint32_t pid;
    HANDLE process;
};
std::vector<StartedVm> g_started;

bool LaunchHeadless(const std::string& root, sim::Vm& vm) {
    const std::string exe = root + "MEmuHyperv\\MEmuHeadless.exe";
    const std::string line = "\"" + exe + "\" --comment " + sim::VmName(vm.index) + " --startvm " +
                             vm.uuid + " --vrde config";
    std::wstring wide_line = sim::ToWide(line);
    // No handles are passed on, not even the standard ones: a VM process that outlives this
    // tool must not hold the caller's output pipe open.
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(sim::ToWide(exe).c_str(), wide_line.data(), nullptr, nullptr, FALSE,
                        DETACHED_PROCESS, nullptr, sim::ToWide(root + "MEmuHyperv").c_str(),
                        &startup, &info)) {
        return false;
    }
    vm.started = true;
    vm.pid = info.dwProcessId;
    vm.started_at = sim::FileTimeNow();
    CloseHandle(info.hThread);
    g_started.push_back({info.dwProcessId, info.hProcess});
    return true;
}

// Waits, once the state lock is released, until every VM process started by this call has its
// window tree (it sets its ready event) or has ended. The VM process journals its command line
// under the same lock first, so waiting while holding it would only wait out the time-out.
void WaitForStartedVms() {
    for (const StartedVm& started : g_started) {
        HANDLE ready =
            CreateEventW(nullptr, TRUE, FALSE, sim::VmReadyEventName(started.pid).c_str());
        const HANDLE waits[] = {ready, started.process};
        if (ready) {
            WaitForMultipleObjects(2, waits, FALSE, 5000);
            CloseHandle(ready);
        }
        CloseHandle(started.process);
    }
    g_started.clear();
}

void StopVm(sim::Vm& vm) {
    if (vm.started) sim::StopProcess(vm.pid);
    sim::MarkStopped(vm);
}

std::string ListVms(const std::vector<sim::Vm>& vms, bool lf_only) {
    const char* end = lf_only ? "\n" : "\r\n";
    std::string reply;
    for (const sim::Vm& vm : vms) {
        const int32_t window = vm.started ? sim::VmWindowOf(vm.pid) : 0;
        reply += std::to_string(vm.index) + "," + vm.title + "," + std::to_string(window) + "," +
                 (vm.started ? "1" : "0") + "," + std::to_string(vm.started ? vm.pid : 0) + end;
    }
    return reply;
}

std::string ConfigValue(const sim::Vm& vm, const std::string& key) {
    for (const auto& [k, v] : vm.config) {
        if (k == key) return v;
    }
    return "";
}

void SetConfigValue(sim::Vm& vm, const std::string& key, const std::string& value) {
    for (auto& [k, v] : vm.config) {
        if (k == key) {
            v = value;
            return;
        }
    }
    vm.config.emplace_back(key, value);
}

std::string Join(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

// A decimal number "-12.5" within [-limit, limit]; no exponent, no hex, no blanks.
bool ParseCoordinate(const std::string& text, double limit) {
    size_t i = text.size() > 1 && text[0] == '-' ? 1 : 0;
    const size_t digits_start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == digits_start) return false;
    if (i < text.size() && text[i] == '.') {
        const size_t fraction_start = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        if (i == fraction_start) return false;
    }
    if (i != text.size()) return false;
    const double value = std::strtod(text.c_str(), nullptr);
    return value >= -limit && value <= limit;
}

bool IsFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(sim::ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// "D:\apps\My Game.APK" gives "com.sim.my_game": the file name without its extension, lower
// case, every character other than a-z and 0-9 (a GBK character counts as one) made '_'.
std::string PackageOfApk(const std::string& path) {
    size_t name_start = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        if (sim::IsGbkLead(path[i]) && i + 1 < path.size()) {
            ++i;
        } else if (path[i] == '\\' || path[i] == '/') {
            name_start = i + 1;
        }
    }
    std::string name = path.substr(name_start);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    std::string stem;
    for (size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        const bool kept = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        stem += kept ? c : '_';
        if (sim::IsGbkLead(name[i]) && i + 1 < name.size()) ++i;
    }
    return "com.sim." + stem;
}

bool HasApp(const sim::Vm& vm, const std::string& package) {
    for (const std::string& app : vm.apps) {
        if (app == package) return true;
    }
    return false;
}

// One call: the request, the state it works on and whether that must be written back.
struct Call {
    const std::string& root;
    const Request& request;
    std::vector<sim::Vm>& vms;
    bool lf_only = false;
    bool changed = false;
    const std::vector<std::string>& rest() const { return request.rest; }
};

std::string Create(Call& call) {
    sim::Vm vm;
    vm.index = sim::FreeIndex(call.vms);
    vm.title = sim::VmName(vm.index);
    vm.uuid = sim::UuidForIndex(vm.index);
    vm.identity = sim::NewIdentity();
    call.vms.push_back(vm);
    call.changed = true;
    return "SUCCESS: create vm finished.index:" + std::to_string(vm.index) + "\r\n";
}

std::string StopAll(Call& call) {
    for (sim::Vm& vm : call.vms) StopVm(vm);
    call.changed = true;
    return "SUCCESS: stop all vm finished.\r\n";
}

// The VM line of a file written by export, empty when the file is missing or not one.
std::string ExportedLine(const std::string& path) {
    const std::string mark = std::string(kExportMark) + "\r\n";
    std::string bytes;
    if (!sim::ReadFileBytes(path, &bytes) || bytes.rfind(mark, 0) != 0) return "";
    const std::string rest = bytes.substr(mark.size());
    return rest.substr(0, rest.find("\r\n"));
}

// import FILE: a file written by export becomes a new stopped VM, a full copy with a new
// uuid and identity and no snapshots.
std::string Import(Call& call) {
    if (call.rest().size() != 1) return "ERROR: import needs one file.\r\n";
    sim::Vm vm;
    if (!sim::ParseVm(ExportedLine(call.rest()[0]), &vm)) {
        return "ERROR: cannot read '" + call.rest()[0] + "' as an exported vm.\r\n";
    }
    vm.index = sim::FreeIndex(call.vms);
    vm.uuid = sim::NewUuid();
    vm.identity = sim::NewIdentity();
    vm.snapshots.clear();
    vm.from.clear();
    sim::MarkStopped(vm);
    call.vms.push_back(vm);
    call.changed = true;
    return "SUCCESS: import vm finished.index:" + std::to_string(vm.index) + "\r\n";
}

std::string Start(Call& call, sim::Vm& vm) {
    if (!vm.started && !LaunchHeadless(call.root, vm)) return "ERROR: start vm failed.\r\n";
    call.changed = true;
    return "SUCCESS: start vm finished.\r\n";
}

std::string Stop(Call& call, sim::Vm& vm) {
    StopVm(vm);
    call.changed = true;
    return "SUCCESS: stop vm finished.\r\n";
}

std::string Reboot(Call& call, sim::Vm& vm) {
    StopVm(vm);
    call.changed = true;
    if (!LaunchHeadless(call.root, vm)) return "ERROR: reboot failed.\r\n";
    return "SUCCESS: reboot android finished.\r\n";
}

std::string IsRunning(Call&, sim::Vm& vm) {
    return vm.started ? "Running\r\n" : "Not Running\r\n";
}

std::string Remove(Call& call, sim::Vm& vm) {
    if (vm.started) return "ERROR: stop the vm before removing it.\r\n";
    const int index = vm.index;
    std::erase_if(call.vms, [index](const sim::Vm& v) { return v.index == index; });
    call.changed = true;
    return "SUCCESS: delete vm finished.\r\n";
}

// A full copy of the VM's current state: its config and apps, a new identity, no snapshots.
std::string Clone(Call& call, sim::Vm& vm) {
    sim::Vm copy = vm;
    copy.index = sim::FreeIndex(call.vms);
    copy.title = sim::VmName(copy.index);
    copy.uuid = sim::UuidForIndex(copy.index);
    copy.identity = sim::NewIdentity();
    copy.snapshots.clear();
    copy.from.clear();
    sim::MarkStopped(copy);
    call.vms.push_back(copy);
    call.changed = true;
    return "SUCCESS: clone vm finished.\r\n";
}

std::string Rename(Call& call, sim::Vm& vm) {
    if (call.rest().empty()) return "ERROR: rename needs a title.\r\n";
    vm.title = call.rest()[0];
    call.changed = true;
    return "SUCCESS: rename vm finished.\r\n";
}

std::string GetConfig(Call& call, sim::Vm& vm) {
    if (call.rest().empty()) return "ERROR: getconfig needs a key.\r\n";
    return "Value: " + ConfigValue(vm, call.rest()[0]) + "\r\n";
}

std::string SetConfig(Call& call, sim::Vm& vm) {
    if (call.rest().size() < 2) return "ERROR: setconfig needs a key and a value.\r\n";
    SetConfigValue(vm, call.rest()[0], call.rest()[1]);
    call.changed = true;
    return "SUCCESS: set config finished.\r\n";
}

std::string ExecCmd(Call& call, sim::Vm&) {
    return "executed: " + Join(call.rest()) + "\r\n";
}

std::string Connection(Call& call, sim::Vm&) {
    return "SUCCESS: " + call.request.command + " vm finished.\r\n";
}

std::string Accepted(Call& call, sim::Vm&) {
    return "SUCCESS: " + call.request.command + " finished.\r\n";
}

std::string Randomize(Call& call, sim::Vm& vm) {
    vm.identity = sim::NewIdentity();
    call.changed = true;
    return "SUCCESS: randomize vm finished.\r\n";
}

std::string Input(Call& call, sim::Vm& vm) {
    if (call.rest().size() != 1) return "ERROR: input needs one text argument.\r\n";
    sim::AppendRootFile(call.root, sim::kTypedFile,
                        std::to_string(vm.index) + "\t" + call.rest()[0]);
    return "SUCCESS: input text finished.\r\n";
}

std::string SetGps(Call& call, sim::Vm& vm) {
    const std::vector<std::string>& rest = call.rest();
    if (rest.size() != 2 || !ParseCoordinate(rest[0], 180) || !ParseCoordinate(rest[1], 90)) {
        return "ERROR: setgps needs a longitude in [-180,180] and a latitude in [-90,90].\r\n";
    }
    SetConfigValue(vm, "gps", rest[0] + "," + rest[1]);
    call.changed = true;
    return "SUCCESS: set gps finished.\r\n";
}

std::string Rotate(Call& call, sim::Vm& vm) {
    const bool landscape = ConfigValue(vm, "orientation") == "landscape";
    SetConfigValue(vm, "orientation", landscape ? "portrait" : "landscape");
    call.changed = true;
    return "SUCCESS: rotate vm finished.\r\n";
}

std::string AppList(Call&, sim::Vm& vm) {
    std::string reply;
    for (const std::string& app : vm.apps) reply += app + "\r\n";
    return reply;
}

// installapp APK or installapp -p PACKAGE.
std::string InstallApp(Call& call, sim::Vm& vm) {
    const std::vector<std::string>& rest = call.rest();
    std::string package;
    if (rest.size() == 2 && rest[0] == "-p") {
        package = rest[1];
    } else if (rest.size() == 1 && rest[0] != "-p") {
        if (!IsFile(rest[0])) return "ERROR: apk file '" + rest[0] + "' not found.\r\n";
        package = PackageOfApk(rest[0]);
    }
    if (package.empty()) return "ERROR: installapp needs an apk file or -p package.\r\n";
    if (!HasApp(vm, package)) vm.apps.push_back(package);
    call.changed = true;
    return "SUCCESS: installapp finished.\r\n";
}

std::string UninstallApp(Call& call, sim::Vm& vm) {
    if (call.rest().size() != 1 || !HasApp(vm, call.rest()[0])) {
        return "ERROR: package '" + Join(call.rest()) + "' is not installed.\r\n";
    }
    std::erase(vm.apps, call.rest()[0]);
    call.changed = true;
    return "SUCCESS: uninstallapp finished.\r\n";
}

// export FILE: a marker line, then the VM's state line as a stopped VM.
std::string Export(Call& call, sim::Vm& vm) {
    if (call.rest().size() != 1) return "ERROR: export needs one file.\r\n";
    sim::Vm copy = vm;
    sim::MarkStopped(copy);
    const std::string text = std::string(kExportMark) + "\r\n" + sim::FormatVm(copy) + "\r\n";
    if (!sim::WriteFileBytes(call.rest()[0], text)) {
        return "ERROR: cannot write '" + call.rest()[0] + "'.\r\n";
    }
    return "SUCCESS: export vm finished.\r\n";
}

struct VmCommand {
    const char* name;
    bool needs_running;
    std::string (*run)(Call&, sim::Vm&);
};

constexpr VmCommand kVmCommands[] = {
    {"start", false, Start},           {"stop", false, Stop},
    {"reboot", true, Reboot},          {"isvmrunning", false, IsRunning},
    {"remove", false, Remove},         {"clone", false, Clone},
    {"rename", false, Rename},         {"getconfig", false, GetConfig},
    {"setconfig", false, SetConfig},   {"execcmd", true, ExecCmd},
    {"connect", false, Connection},    {"disconnect", false, Connection},
    {"installapp", true, InstallApp},  {"uninstallapp", true, UninstallApp},
    {"startapp", true, Accepted},      {"stopapp", true, Accepted},
    {"shake", true, Accepted},         {"sendkey", true, Accepted},
    {"randomize", false, Randomize},   {"input", true, Input},
    {"setgps", true, SetGps},          {"rotate", true, Rotate},
    {"getappinfolist", true, AppList}, {"export", false, Export},
};

// Runs one request against the state; returns the reply text.
std::string Handle(Call& call) {
    const std::string& command = call.request.command;
    if (command == "listvms") return ListVms(call.vms, call.lf_only);
    if (command == "create") return Create(call);
    if (command == "stopall") return StopAll(call);
    if (command == "import") return Import(call);
    if (command == "sortwin") return "SUCCESS: sort out all vm windows.\r\n";

    sim::Vm* vm = call.request.has_index ? sim::FindVm(call.vms, call.request.index) : nullptr;
    if (!vm) return NoSuchVm(call.request);
    for (const VmCommand& row : kVmCommands) {
        if (command != row.name) continue;
        if (row.needs_running && !vm->started) return "ERROR: vm is not running.\r\n";
        return row.run(call, *vm);
    }
    return "ERROR: unknown command '" + command + "'\r\n";
}

}  // namespace

int main() {
    const sim::Invocation invocation = sim::StartInvocation();
    const sim::CallRecord record(invocation);
    const auto& [root, tool, raw] = invocation;

    const Request request = ParseRequest(sim::ProcessArguments());
    sim::Reply reply;
    if (!sim::ApplySwitches(root, tool, request.command, request.has_index ? request.index : -1,
                            &reply)) {
        return 0;
    }
    if (reply.fail) {
        sim::Write("ERROR: simulated failure of '" + request.command + "'\r\n");
        return 1;
    }

    std::string text;
    std::vector<sim::Vm> vms;
    // The listing only reads the state: its windows (one search of every VM window per running
    // VM, seconds at a few hundred) are looked up once the farm's lock is let go, as the
    // emulator's devices and its other tools do not wait for a listing.
    const bool listing = request.command == "listvms";
    {
        sim::RootLock lock(root);
        vms = sim::LoadState(root);
        Call call{root, request, vms};
        call.lf_only = reply.lf_only;
        call.changed = ForgetDeadProcesses(vms);
        if (!listing) text = Handle(call);
        if (call.changed) sim::SaveState(root, vms);
    }
    if (listing) text = ListVms(vms, reply.lf_only);
    WaitForStartedVms();
    sim::Write(text);
    return text.rfind("ERROR", 0) == 0 ? 1 : 0;
}
