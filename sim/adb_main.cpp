// Simulated adb.exe: reaches a running VM n at 127.0.0.1:21503 + 10 * n. Shell commands are
// accepted silently; a screencap writes a small picture into the VM's simulated storage
// (<root>\sim-sdcard\<n>\), pull copies it out and rm deletes it.
#include <windows.h>

#include <string>
#include <vector>

#include "sim/sim_common.h"

namespace {

constexpr int kFirstPort = 21503;
constexpr const char kDevicePrefix[] = "/sdcard/";

// A 1x1 PNG picture.
const unsigned char kTinyPng[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
    0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
    0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x44, 0x41, 0x54, 0x78,
    0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0xF0, 0x1F, 0x00, 0x05, 0x00, 0x01, 0xFF, 0x89, 0x99,
    0x3D, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

// Index of the VM listening on "127.0.0.1:<port>", -1 for any other target.
int IndexOfTarget(const std::string& target) {
    const std::string host = "127.0.0.1:";
    if (target.rfind(host, 0) != 0) return -1;
    int port = 0;
    if (!sim::ParseInt(target.substr(host.size()), &port)) return -1;
    if (port < kFirstPort || (port - kFirstPort) % 10 != 0) return -1;
    return (port - kFirstPort) / 10;
}

// Host path of a device file under /sdcard/, empty for any other device path.
std::string HostPathOf(const std::string& root, int index, const std::string& device_path) {
    if (device_path.rfind(kDevicePrefix, 0) != 0) return "";
    const std::string name = device_path.substr(sizeof kDevicePrefix - 1);
    if (name.empty() || name.find_first_of("/\\") != std::string::npos) return "";
    return root + "sim-sdcard\\" + std::to_string(index) + "\\" + name;
}

std::string Shell(const std::string& root, int index, const std::vector<std::string>& words) {
    if (words.size() >= 3 && words[0] == "/system/bin/screencap" && words[1] == "-p") {
        const std::string host = HostPathOf(root, index, words[2]);
        if (host.empty()) return "screencap: cannot write " + words[2] + "\r\n";
        CreateDirectoryW(sim::ToWide(root + "sim-sdcard").c_str(), nullptr);
        CreateDirectoryW(sim::ToWide(root + "sim-sdcard\\" + std::to_string(index)).c_str(),
                         nullptr);
        sim::WriteFileBytes(host,
                            std::string(reinterpret_cast<const char*>(kTinyPng), sizeof kTinyPng));
        return "";
    }
    if (words.size() >= 2 && words[0] == "rm") {
        const std::string host = HostPathOf(root, index, words[1]);
        if (host.empty() || !DeleteFileW(sim::ToWide(host).c_str())) {
            return "rm: " + words[1] + ": No such file or directory\r\n";
        }
        return "";
    }
    return "";  // input, pm and the rest succeed without a word
}

std::string Pull(const std::string& root, int index, const std::vector<std::string>& words) {
    if (words.size() < 2) return "adb: error: pull needs a source and a destination\r\n";
    const std::string host = HostPathOf(root, index, words[0]);
    std::string bytes;
    if (host.empty() || !sim::ReadFileBytes(host, &bytes)) {
        return "adb: error: failed to stat remote object '" + words[0] +
               "': No such file or directory\r\n";
    }
    if (!sim::WriteFileBytes(words[1], bytes)) {
        return "adb: error: cannot create '" + words[1] + "'\r\n";
    }
    return words[0] + ": 1 file pulled. (" + std::to_string(bytes.size()) + " bytes)\r\n";
}

}  // namespace

int main() {
    const auto [root, tool, raw] = sim::StartInvocation();

    std::vector<std::string> args = sim::SplitArguments(raw);
    std::string target;
    if (args.size() >= 2 && args[0] == "-s") {
        target = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    const std::string command = args.empty() ? "" : args[0];
    sim::Reply reply;
    if (!sim::ApplySwitches(root, tool, command, &reply)) return 0;
    if (reply.fail) {
        sim::Write("adb: error: simulated failure of '" + command + "'\r\n");
        return 1;
    }

    const int index = IndexOfTarget(target);
    bool running = false;
    {
        sim::RootLock lock(root);
        std::vector<sim::Vm> vms = sim::LoadState(root);
        const sim::Vm* vm = index < 0 ? nullptr : sim::FindVm(vms, index);
        running = vm && vm->started && sim::IsProcessAlive(vm->pid);
    }
    if (!running) {
        sim::Write("adb: error: device '" + target + "' not found\r\n");
        return 1;
    }
    const std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
    std::string text;
    if (command == "shell") {
        text = Shell(root, index, rest);
    } else if (command == "pull") {
        text = Pull(root, index, rest);
    } else {
        text = "adb: unknown command " + command + "\r\n";
    }
    sim::Write(text);
    return 0;
}
