#include "farm/run/device_channel.h"

#include "control/operations.h"
#include "text/gbk_text.h"

namespace {

// "adb.exe start-server" returns once the server listens; one that takes longer than this
// counts as failed. The run's deadline, when nearer, ends the wait sooner.
constexpr int kStartServerTimeoutMs = 10000;

// The run's deadline of the request this thread is making. The client starts the server from
// within a request, on the thread that made it, so the start sees that request's deadline.
thread_local std::optional<double> t_request_deadline;

class RequestDeadline {
public:
    explicit RequestDeadline(std::optional<double> deadline) { t_request_deadline = deadline; }
    ~RequestDeadline() { t_request_deadline.reset(); }
    RequestDeadline(const RequestDeadline&) = delete;
    RequestDeadline& operator=(const RequestDeadline&) = delete;
};

}  // namespace

const char* AdbWayKey(AdbWay way) {
    switch (way) {
        case AdbWay::kServer:
            return "server";
        case AdbWay::kProcess:
            return "process";
        case AdbWay::kUnused:
            break;
    }
    return nullptr;
}

std::string DeviceSerial(int32_t index) {
    return AdbSerial(index);
}

DeviceChannel::DeviceChannel(adb::AdbSystem& network, int port, ToolRunner& tools)
    : network_(network), tools_(tools), client_(network, port, [this] { return StartServer(); }) {}

bool DeviceChannel::StartServer() {
    std::string folder;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        folder = install_folder_;
    }
    ToolRunOptions options;
    options.timeout_ms = kStartServerTimeoutMs;
    if (const std::optional<double> deadline = t_request_deadline)
        options.abandon = [this, deadline] { return network_.Now() >= *deadline; };
    const ToolRun run = tools_.Run(ToolCommand{folder, kAdbFile, " start-server"}, options);
    if (run.end == RunEnd::kAbandoned) start_left_running_ = true;
    return run.end == RunEnd::kExited && run.exit_code == 0;
}

template <typename Request>
std::optional<adb::AdbResult> DeviceChannel::Ask(const std::string& install_folder,
                                                 std::optional<double> deadline,
                                                 const Request& request) {
    if (way_.load() == AdbWay::kProcess) return std::nullopt;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (install_folder_.empty()) install_folder_ = install_folder;
    }
    adb::AdbResult result;
    {
        const RequestDeadline bound(deadline);
        result = request();
    }
    AdbWay undecided = AdbWay::kUnused;
    if (way_.load() == AdbWay::kUnused && start_left_running_.load() && deadline &&
        network_.Now() >= *deadline && !result.ok()) {
        // The deadline passed while the server was being started: no answer has decided the
        // way yet, and the step ends at its deadline.
        result = {adb::AdbOutcome::kTimedOut, "", kStartServerLeftRunning};
        return result;
    }
    if (result.outcome == adb::AdbOutcome::kNoServer) {
        // The first answer decides: no server now means adb.exe for the whole run. Once the
        // server has answered, a server that has gone away is a failure of the step.
        way_.compare_exchange_strong(undecided, AdbWay::kProcess);
        if (way_.load() == AdbWay::kProcess) return std::nullopt;
        return result;
    }
    way_.compare_exchange_strong(undecided, AdbWay::kServer);
    return result;
}

std::optional<adb::AdbResult> DeviceChannel::Shell(const std::string& install_folder,
                                                   const std::string& serial,
                                                   const std::string& command, double seconds,
                                                   std::optional<double> deadline) {
    return Ask(install_folder, deadline,
               [&] { return client_.Shell(serial, command, network_.Now() + seconds); });
}

std::optional<adb::AdbResult> DeviceChannel::ExecToFile(const std::string& install_folder,
                                                        const std::string& serial,
                                                        const std::string& command,
                                                        const std::string& path, double seconds,
                                                        std::optional<double> deadline) {
    return Ask(install_folder, deadline,
               [&] { return client_.ExecToFile(serial, command, path, network_.Now() + seconds); });
}

std::optional<adb::AdbResult> DeviceChannel::Exec(const std::string& install_folder,
                                                  const std::string& serial,
                                                  const std::string& command, size_t most_bytes,
                                                  double seconds, std::optional<double> deadline,
                                                  std::string buffer) {
    return Ask(install_folder, deadline, [&] {
        return client_.Exec(serial, command, most_bytes, network_.Now() + seconds,
                            std::move(buffer));
    });
}
