// Simulated MEmuManage.exe: takes snapshots of VMs and registers linked clones of them. It
// exits with 1 whenever its reply begins with "Error", else with 0.
#include <windows.h>

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

// "8-4-4-4-12" hexadecimal digits.
bool IsUuidText(const std::string& text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (i == 8 || i == 13 || i == 18 || i == 23 ? c != '-' : !hex) return false;
    }
    return true;
}

bool SameUuid(const std::string& a, const std::string& b) {
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) ==
           CSTR_EQUAL;
}

// The snapshot named by `wanted`: a uuid (bare or in braces) picks that snapshot, any other
// text the first snapshot of that name. Null when none matches.
const sim::Snapshot* FindSnapshot(const sim::Vm& vm, const std::string& wanted) {
    std::string uuid = wanted;
    if (uuid.size() >= 2 && uuid.front() == '{' && uuid.back() == '}') {
        uuid = uuid.substr(1, uuid.size() - 2);
    }
    const bool by_uuid = IsUuidText(uuid);
    for (const sim::Snapshot& snapshot : vm.snapshots) {
        if (by_uuid ? SameUuid(snapshot.uuid, uuid) : snapshot.name == wanted) return &snapshot;
    }
    return nullptr;
}

std::string NoMachine(const std::string& name) {
    return "Error: there is no registered machine called '" + name + "'.\r\n";
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
    // Every take adds a snapshot, also under a name that exists already.
    const sim::Snapshot snapshot{sim::NewUuid(), args[3]};
    vm->snapshots.push_back(snapshot);
    *changed = true;
    return "0%...10%...20%...30%...40%...50%...60%...70%...80%...90%...100%\r\n"
           "Snapshot taken. UUID: " +
           snapshot.uuid + "\r\n";
}

// clonevm <master> --name=<name> --register --snapshot=<s> --options=... --uuid={...}
std::string CloneVm(const std::vector<std::string>& args, std::vector<sim::Vm>& vms,
                    bool* changed) {
    if (args.size() < 2) return "Usage: clonevm <vm> --name=<name> ...\r\n";
    const int master_index = sim::IndexOfVmName(args[1]);
    sim::Vm* master = master_index < 0 ? nullptr : sim::FindVm(vms, master_index);
    if (!master) return NoMachine(args[1]);
    const std::string wanted = Option(args, "snapshot");
    const sim::Snapshot* snapshot = wanted.empty() ? nullptr : FindSnapshot(*master, wanted);
    if (!wanted.empty() && !snapshot) {
        return "Error: could not find a snapshot '" + wanted + "' of machine '" + args[1] +
               "'.\r\n";
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
    // A linked clone shares its master's disk: the device identity and the apps on it.
    clone.from = snapshot ? snapshot->uuid : "";
    clone.identity = master->identity;
    clone.apps = master->apps;
    vms.push_back(clone);
    *changed = true;
    return "0%...10%...20%...30%...40%...50%...60%...70%...80%...90%...100%\r\n"
           "Machine has been successfully cloned as \"" +
           name + "\"\r\n";
}

}  // namespace

int main() {
    const sim::Invocation invocation = sim::StartInvocation();
    const sim::CallRecord record(invocation);
    const auto& [root, tool, raw] = invocation;

    const std::vector<std::string> args = sim::ProcessArguments();
    const std::string command = args.empty() ? "" : args[0];
    const int master = args.size() > 1 ? sim::IndexOfVmName(args[1]) : -1;
    sim::Reply reply;
    if (!sim::ApplySwitches(root, tool, command, master, &reply)) return 0;
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
