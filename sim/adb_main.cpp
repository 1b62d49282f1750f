// Simulated adb.exe: reaches a running VM n at 127.0.0.1:21503 + 10 * n. The words after
// "shell" make one device command line, as adb sends it, run by the simulated device
// (adb_device.h). Errors exit with 1; a shell command exits with the device command's code.
// start-server and kill-server start and end the simulated adb server (adb_server.h), which
// this same program runs when started with its hidden server argument.
#include <windows.h>

#include <string>
#include <vector>

#include "sim/adb_device.h"
#include "sim/adb_server.h"
#include "sim/sim_common.h"

int main() {
    const sim::Invocation invocation = sim::StartInvocation();
    std::vector<std::string> args = sim::ProcessArguments();
    if (!args.empty() && args[0] == sim::kServerArgument) {
        return sim::RunAdbServer(invocation.root, sim::AdbServerPort());
    }
    const sim::CallRecord record(invocation);
    const auto& [root, tool, raw] = invocation;
    std::string target;
    if (args.size() >= 2 && args[0] == "-s") {
        target = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    const std::string command = args.empty() ? "" : args[0];
    const int index = sim::IndexOfTarget(target);
    sim::Reply reply;
    if (!sim::ApplySwitches(root, tool, command, index, &reply)) return 0;
    if (reply.fail) {
        sim::Write("adb: error: simulated failure of '" + command + "'\r\n");
        return 1;
    }

    if (command == "start-server") return sim::StartServerCommand(sim::AdbServerPort());
    if (command == "kill-server") return sim::KillServerCommand(sim::AdbServerPort());

    const sim::Device device = sim::FindDevice(root, index);
    if (!device.running) {
        sim::Write("adb: error: device '" + target + "' not found\r\n");
        return 1;
    }
    const std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
    sim::Result result;
    if (command == "shell") {
        result = sim::Shell(root, device, reply.boot_ms, sim::JoinWords(rest));
    } else if (command == "pull") {
        result = sim::Pull(root, index, rest);
    } else {
        result = sim::Failure("adb: unknown command " + command + "\r\n");
    }
    sim::Write(result.text);
    return result.code;
}
