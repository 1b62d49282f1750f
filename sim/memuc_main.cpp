// Simulated memuc.exe: the emulator's VM command tool. Answers with the result phrases the
// control module looks for and keeps its VMs in the state file of the simulated installation.
#include <windows.h>

#include <string>
#include <vector>

#include "sim/sim_common.h"

namespace {

struct Request {
    std::string command;  // first word that is not "memuc" and not an option
    int index = -1;       // value of -i, -1 when absent
    bool has_index = false;
    std::vector<std::string> rest;  // words after the command
};

Request ParseRequest(const std::vector<std::string>& args) {
    Request request;
    size_t i = 0;
    // Most sub-commands repeat the tool's name as their first word.
    if (i < args.size() && args[i] == "memuc") ++i;
    for (; i < args.size(); ++i) {
        if (args[i] == "-i" && i + 1 < args.size()) {
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
            vm.started = false;
            vm.pid = 0;
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
    vm.started = false;
    vm.pid = 0;
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

// Runs one request against the state; returns the reply text. `changed` tells whether the
// state must be written back.
std::string Handle(const std::string& root, const Request& request, bool lf_only,
                   std::vector<sim::Vm>& vms, bool* changed) {
    const std::string& command = request.command;
    if (command == "listvms") return ListVms(vms, lf_only);
    if (command == "create") {
        sim::Vm vm;
        vm.index = sim::FreeIndex(vms);
        vm.title = sim::VmName(vm.index);
        vm.uuid = sim::UuidForIndex(vm.index);
        vms.push_back(vm);
        *changed = true;
        return "SUCCESS: create vm finished.index:" + std::to_string(vm.index) + "\r\n";
    }
    if (command == "stopall") {
        for (sim::Vm& vm : vms) StopVm(vm);
        *changed = true;
        return "SUCCESS: stop all vm finished.\r\n";
    }
    if (command == "sortwin") return "SUCCESS: sort out all vm windows.\r\n";

    sim::Vm* vm = request.has_index ? sim::FindVm(vms, request.index) : nullptr;
    if (!vm) return NoSuchVm(request);
    if (command == "start") {
        if (!vm->started && !LaunchHeadless(root, *vm)) return "ERROR: start vm failed.\r\n";
        *changed = true;
        return "SUCCESS: start vm finished.\r\n";
    }
    if (command == "stop") {
        StopVm(*vm);
        *changed = true;
        return "SUCCESS: stop vm finished.\r\n";
    }
    if (command == "reboot") {
        if (!vm->started) return "ERROR: vm is not running.\r\n";
        StopVm(*vm);
        *changed = true;
        if (!LaunchHeadless(root, *vm)) return "ERROR: reboot failed.\r\n";
        return "SUCCESS: reboot android finished.\r\n";
    }
    if (command == "isvmrunning") return vm->started ? "Running\r\n" : "Not Running\r\n";
    if (command == "remove") {
        if (vm->started) return "ERROR: stop the vm before removing it.\r\n";
        const int index = vm->index;
        std::erase_if(vms, [index](const sim::Vm& v) { return v.index == index; });
        *changed = true;
        return "SUCCESS: delete vm finished.\r\n";
    }
    if (command == "clone") {
        sim::Vm copy = *vm;
        copy.index = sim::FreeIndex(vms);
        copy.title = sim::VmName(copy.index);
        copy.uuid = sim::UuidForIndex(copy.index);
        copy.started = false;
        copy.pid = 0;
        vms.push_back(copy);
        *changed = true;
        return "SUCCESS: clone vm finished.\r\n";
    }
    if (command == "rename") {
        if (request.rest.empty()) return "ERROR: rename needs a title.\r\n";
        vm->title = request.rest[0];
        *changed = true;
        return "SUCCESS: rename vm finished.\r\n";
    }
    if (command == "getconfig") {
        if (request.rest.empty()) return "ERROR: getconfig needs a key.\r\n";
        return "Value: " + ConfigValue(*vm, request.rest[0]) + "\r\n";
    }
    if (command == "setconfig") {
        if (request.rest.size() < 2) return "ERROR: setconfig needs a key and a value.\r\n";
        SetConfigValue(*vm, request.rest[0], request.rest[1]);
        *changed = true;
        return "SUCCESS: set config finished.\r\n";
    }
    if (command == "execcmd") {
        if (!vm->started) return "ERROR: vm is not running.\r\n";
        return "executed: " + Join(request.rest) + "\r\n";
    }
    if (command == "connect" || command == "disconnect") {
        return "SUCCESS: " + command + " vm finished.\r\n";
    }
    if (command == "installapp" || command == "uninstallapp" || command == "startapp" ||
        command == "stopapp" || command == "shake" || command == "sendkey") {
        if (!vm->started) return "ERROR: vm is not running.\r\n";
        return "SUCCESS: " + command + " finished.\r\n";
    }
    return "ERROR: unknown command '" + command + "'\r\n";
}

}  // namespace

int main() {
    const auto [root, tool, raw] = sim::StartInvocation();

    const Request request = ParseRequest(sim::SplitArguments(raw));
    sim::Reply reply;
    if (!sim::ApplySwitches(root, tool, request.command, &reply)) return 0;
    if (reply.fail) {
        sim::Write("ERROR: simulated failure of '" + request.command + "'\r\n");
        return 1;
    }

    std::string text;
    {
        sim::RootLock lock(root);
        std::vector<sim::Vm> vms = sim::LoadState(root);
        bool changed = ForgetDeadProcesses(vms);
        text = Handle(root, request, reply.lf_only, vms, &changed);
        if (changed) sim::SaveState(root, vms);
    }
    WaitForStartedVms();
    sim::Write(text);
    return 0;
}
