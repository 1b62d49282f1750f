// How the console companion reaches a VM's Android: through the adb server on the PC (one
// loopback connection per request), or, when no server can be reached nor started, by starting
// adb.exe for each step as before. The choice is made once per run, at the first request, and
// shared by every worker thread.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include "adb/adb_client.h"
#include "process/tool_runner.h"

enum class AdbWay {
    kUnused,   // no request has been made
    kServer,   // the adb server answers the requests
    kProcess,  // no server could be reached or started: adb.exe runs for each step
};

// "server", "process"; null for kUnused.
const char* AdbWayKey(AdbWay way);

class DeviceChannel {
public:
    // `network`: the loopback sockets and files; `port`: the server's port; `tools`: starts
    // the emulator's own "adb.exe start-server" when no server listens.
    DeviceChannel(adb::AdbSystem& network, int port, ToolRunner& tools);
    DeviceChannel(const DeviceChannel&) = delete;
    DeviceChannel& operator=(const DeviceChannel&) = delete;

    // Runs `command` in the device's shell through the server, waiting at most `seconds`.
    // Nothing when the run asks adb.exe instead: the caller runs the step as a process.
    // `install_folder` is where adb.exe is, to start the server. `deadline`, the run's (a point
    // on the network's clock), also bounds "adb.exe start-server" when this request starts it:
    // when it passes first, the request times out with kStartServerLeftRunning as its message.
    std::optional<adb::AdbResult> Shell(const std::string& install_folder,
                                        const std::string& serial, const std::string& command,
                                        double seconds, std::optional<double> deadline = {});
    // Runs `command` without a terminal, its output held in memory: at most `most_bytes`, more
    // is an error. The output is collected in `buffer` (as AdbClient::Exec does).
    std::optional<adb::AdbResult> Exec(const std::string& install_folder, const std::string& serial,
                                       const std::string& command, size_t most_bytes,
                                       double seconds, std::optional<double> deadline = {},
                                       std::string buffer = {});
    // Runs `command` without a terminal and writes its output to the local file `path`.
    std::optional<adb::AdbResult> ExecToFile(const std::string& install_folder,
                                             const std::string& serial, const std::string& command,
                                             const std::string& path, double seconds,
                                             std::optional<double> deadline = {});

    AdbWay Way() const { return way_.load(); }
    int port() const { return client_.port(); }

private:
    template <typename Request>
    std::optional<adb::AdbResult> Ask(const std::string& install_folder,
                                      std::optional<double> deadline, const Request& request);
    bool StartServer();

    adb::AdbSystem& network_;
    ToolRunner& tools_;
    adb::AdbClient client_;
    std::mutex mutex_;
    std::string install_folder_;  // the first request's, for the server's start
    std::atomic<AdbWay> way_{AdbWay::kUnused};
    // "adb.exe start-server" was given up at a deadline; it is left running.
    std::atomic<bool> start_left_running_{false};
};

// The message of a request whose deadline passed while "adb.exe start-server" ran.
inline constexpr const char* kStartServerLeftRunning =
    "the deadline passed while adb.exe start-server was running; it is left running";

// The device serial of VM `index`: "127.0.0.1:" + its adb port.
std::string DeviceSerial(int32_t index);
