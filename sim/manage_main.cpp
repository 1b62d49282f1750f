// Simulated MEmuManage.exe: takes snapshots of VMs and registers linked clones of them.
#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include <string>
#include <vector>

#include "sim/sim_common.h"

namespace {

// Value of an option written as --key=value, empty when absent.
std::string Option(const std::vector<std::string>& args, const std::string& key) {
    const std::string prefix = "--" + key + "=";
    for (const std::string& arg : args) {
        if (arg.rfind(prefix, 0) == 0) return arg.substr(prefix.size());
    }
    return "";
}

bool HasSnapshot(const sim::Vm& vm, const std::string& name) {
    for (const std::string& s : vm.snapshots) {
        if (s == name) return true;
    }
    return false;
}

std::string NoMachine(const std::string& name) {
    return "Error: there is no registered machine called '" + name + "'.\r\n";
}

std::string NewUuid() {
    GUID guid;
    CoCreateGuid(&guid);
    char text[64];
    std::snprintf(text, sizeof text, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

// snapshot <vm> take <name>
std::string Snapshot(const std::vector<std::string>& args, std::vector<sim::Vm>& vms,
                     bool* changed) {
    if (args.size() < 4 || args[2] != "take") {
        return "Usage: snapshot <vm> take <name>\r\n";
    }
    const int index = sim::IndexOfVmName(args[1]);
    sim::Vm* vm = index < 0 ? nullptr : sim::FindVm(vms, index);
    if (!vm) return NoMachine(args[1]);
    if (!HasSnapshot(*vm, args[3])) vm->snapshots.push_back(args[3]);
    *changed = true;
    return "0%...10%...20%...30%...40%...50%...60%...70%...80%...90%...100%\r\n"
           "Snapshot taken. UUID: " +
           NewUuid() + "\r\n";
}

// clonevm <master> --name=<name> --register --snapshot=<s> --options=... --uuid={...}
std::string CloneVm(const std::vector<std::string>& args, std::vector<sim::Vm>& vms,
                    bool* changed) {
    if (args.size() < 2) return "Usage: clonevm <vm> --name=<name> ...\r\n";
    const int master_index = sim::IndexOfVmName(args[1]);
    sim::Vm* master = master_index < 0 ? nullptr : sim::FindVm(vms, master_index);
    if (!master) return NoMachine(args[1]);
    const std::string snapshot = Option(args, "snapshot");
    if (!snapshot.empty() && !HasSnapshot(*master, snapshot)) {
        return "Error: machine '" + args[1] + "' has no snapshot named '" + snapshot + "'.\r\n";
    }
    const std::string name = Option(args, "name");
    const int index = sim::IndexOfVmName(name);
    if (index < 0) return "Error: the clone name '" + name + "' is not a VM name.\r\n";
    if (sim::FindVm(vms, index)) {
        return "Error: a machine called '" + name + "' is registered already.\r\n";
    }
    sim::Vm clone;
    clone.index = index;
    clone.title = name;
    std::string uuid = Option(args, "uuid");
    if (uuid.size() >= 2 && uuid.front() == '{' && uuid.back() == '}') {
        uuid = uuid.substr(1, uuid.size() - 2);
    }
    clone.uuid = uuid.empty() ? sim::UuidForIndex(index) : uuid;
    vms.push_back(clone);
    *changed = true;
    return "0%...10%...20%...30%...40%...50%...60%...70%...80%...90%...100%\r\n"
           "Machine has been successfully cloned as \"" +
           name + "\"\r\n";
}

}  // namespace

int main() {
    const auto [root, tool, raw] = sim::StartInvocation();

    const std::vector<std::string> args = sim::SplitArguments(raw);
    const std::string command = args.empty() ? "" : args[0];
    sim::Reply reply;
    if (!sim::ApplySwitches(root, tool, command, &reply)) return 0;
    if (reply.fail) {
        sim::Write("Error: simulated failure of '" + command + "'.\r\n");
        return 1;
    }

    std::string text;
    {
        sim::RootLock lock(root);
        std::vector<sim::Vm> vms = sim::LoadState(root);
        bool changed = false;
        if (command == "snapshot") {
            text = Snapshot(args, vms, &changed);
        } else if (command == "clonevm") {
            text = CloneVm(args, vms, &changed);
        } else {
            text = "Error: unknown command '" + command + "'.\r\n";
        }
        if (changed) sim::SaveState(root, vms);
    }
    sim::Write(text);
    return text.find("Error") == 0 ? 1 : 0;
}
