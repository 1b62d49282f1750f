// A client of the adb server that runs on the PC: it asks the server directly over its
// loopback port instead of starting adb.exe for each question. One connection per request, no
// state shared between requests, so one client object serves many worker threads at once.
//
// Every operation takes a deadline, in seconds on the system's steady clock (AdbSystem::Now);
// each connect, write and read of the request waits at most until then. A server or device
// that stops answering ends that request as timed out.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "adb/adb_codec.h"
#include "adb/adb_system.h"

namespace adb {

enum class AdbOutcome {
    kOk,        // output holds what the server or device sent
    kFailed,    // the server answered FAIL: message holds its words (device offline, not found)
    kTimedOut,  // the deadline passed first
    kNoServer,  // nothing listens on the server's port, also after the start callback
    kError,     // anything else: a reply that is not the protocol, a reset, a file not written
};

// "ok", "failed", "timed out", "no server", "error".
const char* OutcomeName(AdbOutcome outcome);

struct AdbResult {
    AdbOutcome outcome = AdbOutcome::kError;
    std::string output;
    std::string message;  // the server's FAIL message, or what went wrong
    bool ok() const { return outcome == AdbOutcome::kOk; }
};

// The most a shell command's output may hold; more ends the request with an error.
constexpr size_t kMaxShellOutput = size_t{64} << 20;

class AdbClient {
public:
    // Starts the server (the emulator's own "adb.exe start-server") and says whether that
    // worked. Called at most once per client, from whichever thread first finds no server.
    using StartServer = std::function<bool()>;

    AdbClient(AdbSystem& system, int port, StartServer start_server = {});
    AdbClient(const AdbClient&) = delete;
    AdbClient& operator=(const AdbClient&) = delete;

    // The server's protocol version as sent (four hex digits, "0029").
    AdbResult Version(double deadline);
    // The server's device list as sent: "serial\tstate\n" per device.
    AdbResult Devices(double deadline);
    // host:connect: ok when the server says it is connected (or already was), else failed with
    // the server's words. `host_port` is "127.0.0.1:21503".
    AdbResult Connect(const std::string& host_port, double deadline);
    // Runs the command in the device's shell; output is everything it printed. When the server
    // does not know the device, the client connects it once and asks again.
    AdbResult Shell(const std::string& serial, const std::string& command, double deadline);
    // Runs the command without a terminal (exec:, binary-safe); output is everything it printed,
    // held in memory. Output of more than `most_bytes` ends the request with an error. The
    // output is collected in `buffer` (emptied first): a caller that gives back the last
    // result's output keeps its memory from one request to the next.
    AdbResult Exec(const std::string& serial, const std::string& command, size_t most_bytes,
                   double deadline, std::string buffer = {});
    // Runs the command without a terminal (exec:, binary-safe) and writes its output to the file
    // at `path` (GBK). The caller checks what the file holds.
    AdbResult ExecToFile(const std::string& serial, const std::string& command,
                         const std::string& path, double deadline);

    // Whether the start callback has been called.
    bool StartedServer() const { return start_called_.load(); }
    int port() const { return port_; }

private:
    // Takes a piece of a device's output; false stops the request with `error`.
    using OutputSink = std::function<bool(std::string_view bytes, std::string* error)>;
    class Connection;
    // Reads a device's output, once the device has taken the request, to the stream's end.
    using ReadOutput = std::function<AdbResult(Connection& connection, double deadline)>;

    AdbResult Open(std::unique_ptr<Connection>* connection, double deadline);
    void StartServerOnce();
    AdbResult HostRequest(const std::string& request, double deadline);
    AdbResult DeviceRequest(const std::string& serial, const std::string& service,
                            const ReadOutput& read, double deadline);
    // The request's output collected in memory, at most `most_bytes` of it (`what` names it in
    // the error).
    AdbResult Collect(const std::string& serial, const std::string& service, size_t most_bytes,
                      const char* what, double deadline, std::string output = {});
    AdbResult DeviceRequestOnce(const std::string& serial, const std::string& service,
                                const ReadOutput& read, double deadline, bool* not_found);

    AdbSystem& system_;
    int port_;
    StartServer start_server_;
    std::once_flag start_once_;
    std::atomic<bool> start_called_{false};
    std::atomic<bool> start_worked_{false};
};

}  // namespace adb
