#include "adb/adb_client.h"

#include <utility>

namespace adb {

namespace {

AdbResult Outcome(AdbOutcome outcome, std::string message = {}) {
    AdbResult result;
    result.outcome = outcome;
    result.message = std::move(message);
    return result;
}

// The result of a socket call that did not succeed.
AdbResult IoFailure(IoStatus status, const std::string& during) {
    switch (status) {
        case IoStatus::kTimedOut:
            return Outcome(AdbOutcome::kTimedOut, "timed out " + during);
        case IoStatus::kClosed:
            return Outcome(AdbOutcome::kError, "the server closed the connection " + during);
        default:
            return Outcome(AdbOutcome::kError, "connection failed " + during);
    }
}

bool IsNotFound(const std::string& message) {
    return message.find("not found") != std::string::npos;
}

// A serial that names a network device ("127.0.0.1:21503") can be connected by the server.
bool IsNetworkSerial(const std::string& serial) {
    return serial.find(':') != std::string::npos;
}

}  // namespace

const char* OutcomeName(AdbOutcome outcome) {
    switch (outcome) {
        case AdbOutcome::kOk:
            return "ok";
        case AdbOutcome::kFailed:
            return "failed";
        case AdbOutcome::kTimedOut:
            return "timed out";
        case AdbOutcome::kNoServer:
            return "no server";
        case AdbOutcome::kError:
            break;
    }
    return "error";
}

// One connection to the server, with the bytes read past the last reply.
class AdbClient::Connection {
public:
    explicit Connection(std::unique_ptr<AdbSocket> socket) : socket_(std::move(socket)) {}

    AdbResult Send(const std::string& request, double deadline) {
        const std::optional<std::string> framed = FrameRequest(request);
        if (!framed) return Outcome(AdbOutcome::kError, "request too long: " + request);
        const IoStatus status = socket_->Write(*framed, deadline);
        if (status != IoStatus::kOk) return IoFailure(status, "sending " + request);
        return Outcome(AdbOutcome::kOk);
    }

    // Reads one reply; ok with the OKAY's text, failed with the FAIL message.
    AdbResult Receive(bool okay_has_text, double deadline) {
        ReplyDecoder decoder(okay_has_text);
        for (;;) {
            buffer_.erase(0, decoder.Feed(buffer_));
            if (decoder.Done()) break;
            const IoStatus status = socket_->Read(&buffer_, deadline);
            if (status == IoStatus::kClosed) {
                decoder.EndOfStream();
            } else if (status != IoStatus::kOk) {
                return IoFailure(status, "waiting for the server's reply");
            }
        }
        switch (decoder.state()) {
            case ReplyState::kOkay: {
                AdbResult result = Outcome(AdbOutcome::kOk);
                result.output = decoder.text();
                return result;
            }
            case ReplyState::kFail:
                return Outcome(AdbOutcome::kFailed, decoder.text());
            case ReplyState::kCutOff:
                return Outcome(AdbOutcome::kError, "the server's reply was cut off");
            default:
                return Outcome(AdbOutcome::kError, "the server's reply is not an adb reply");
        }
    }

    // Hands every byte up to the end of the stream to `sink`.
    AdbResult Stream(const OutputSink& sink, double deadline) {
        for (;;) {
            std::string error;
            if (!buffer_.empty() && !sink(buffer_, &error)) {
                return Outcome(AdbOutcome::kError, error);
            }
            buffer_.clear();
            const IoStatus status = socket_->Read(&buffer_, deadline);
            if (status == IoStatus::kClosed) return Outcome(AdbOutcome::kOk);
            if (status != IoStatus::kOk) return IoFailure(status, "reading the device's output");
        }
    }

    // Reads every byte up to the end of the stream straight onto `output` (emptied first, its
    // memory kept): no copy between, and a caller that keeps the string from one request to
    // the next reads a large output in few calls. More than `most_bytes` is an error.
    AdbResult StreamInto(std::string& output, size_t most_bytes, const char* what,
                         double deadline) {
        output.assign(buffer_);
        buffer_.clear();
        for (;;) {
            if (output.size() > most_bytes) {
                return Outcome(AdbOutcome::kError, std::string(what) + " is larger than " +
                                                       std::to_string(most_bytes) + " bytes");
            }
            const IoStatus status = socket_->Read(&output, deadline);
            if (status == IoStatus::kClosed) return Outcome(AdbOutcome::kOk);
            if (status != IoStatus::kOk) return IoFailure(status, "reading the device's output");
        }
    }

private:
    std::unique_ptr<AdbSocket> socket_;
    std::string buffer_;
};

AdbClient::AdbClient(AdbSystem& system, int port, StartServer start_server)
    : system_(system), port_(port), start_server_(std::move(start_server)) {}

void AdbClient::StartServerOnce() {
    if (!start_server_) return;
    std::call_once(start_once_, [this] {
        start_called_ = true;
        start_worked_ = start_server_();
    });
}

AdbResult AdbClient::Open(std::unique_ptr<Connection>* connection, double deadline) {
    for (int attempt = 0;; ++attempt) {
        std::unique_ptr<AdbSocket> socket = system_.NewSocket();
        if (!socket) return Outcome(AdbOutcome::kError, "no socket");
        const IoStatus status = socket->Connect(port_, deadline);
        if (status == IoStatus::kOk) {
            *connection = std::make_unique<Connection>(std::move(socket));
            return Outcome(AdbOutcome::kOk);
        }
        if (status != IoStatus::kRefused) return IoFailure(status, "connecting to the server");
        if (attempt > 0 || !start_server_) break;
        StartServerOnce();
    }
    std::string message = "no adb server on 127.0.0.1:" + std::to_string(port_);
    if (start_called_ && !start_worked_) message += " (starting one failed)";
    return Outcome(AdbOutcome::kNoServer, message);
}

AdbResult AdbClient::HostRequest(const std::string& request, double deadline) {
    std::unique_ptr<Connection> connection;
    AdbResult step = Open(&connection, deadline);
    if (step.ok()) step = connection->Send(request, deadline);
    if (step.ok()) step = connection->Receive(true, deadline);
    return step;
}

AdbResult AdbClient::Version(double deadline) {
    return HostRequest("host:version", deadline);
}

AdbResult AdbClient::Devices(double deadline) {
    return HostRequest("host:devices", deadline);
}

AdbResult AdbClient::Connect(const std::string& host_port, double deadline) {
    AdbResult result = HostRequest("host:connect:" + host_port, deadline);
    if (!result.ok()) return result;
    // The server says OKAY also when it could not connect; its words tell.
    const std::string& words = result.output;
    if (words.rfind("connected to", 0) == 0 || words.rfind("already connected to", 0) == 0) {
        return result;
    }
    return Outcome(AdbOutcome::kFailed, words);
}

AdbResult AdbClient::DeviceRequestOnce(const std::string& serial, const std::string& service,
                                       const ReadOutput& read, double deadline, bool* not_found) {
    std::unique_ptr<Connection> connection;
    AdbResult step = Open(&connection, deadline);
    if (step.ok()) step = connection->Send(TransportRequest(serial), deadline);
    if (step.ok()) step = connection->Receive(false, deadline);
    if (step.outcome == AdbOutcome::kFailed) *not_found = IsNotFound(step.message);
    if (step.ok()) step = connection->Send(service, deadline);
    if (step.ok()) step = connection->Receive(false, deadline);
    if (step.ok()) step = read(*connection, deadline);
    return step;
}

AdbResult AdbClient::DeviceRequest(const std::string& serial, const std::string& service,
                                   const ReadOutput& read, double deadline) {
    bool not_found = false;
    AdbResult result = DeviceRequestOnce(serial, service, read, deadline, &not_found);
    if (!not_found || !IsNetworkSerial(serial)) return result;
    const AdbResult connected = Connect(serial, deadline);
    if (connected.outcome == AdbOutcome::kTimedOut) return connected;
    return DeviceRequestOnce(serial, service, read, deadline, &not_found);
}

AdbResult AdbClient::Collect(const std::string& serial, const std::string& service,
                             size_t most_bytes, const char* what, double deadline,
                             std::string output) {
    const ReadOutput collect = [&](Connection& connection, double until) {
        return connection.StreamInto(output, most_bytes, what, until);
    };
    AdbResult result = DeviceRequest(serial, service, collect, deadline);
    if (result.ok()) result.output = std::move(output);
    return result;
}

AdbResult AdbClient::Shell(const std::string& serial, const std::string& command, double deadline) {
    return Collect(serial, ShellRequest(command), kMaxShellOutput, "the shell output", deadline);
}

AdbResult AdbClient::Exec(const std::string& serial, const std::string& command, size_t most_bytes,
                          double deadline, std::string buffer) {
    return Collect(serial, ExecRequest(command), most_bytes, "the command's output", deadline,
                   std::move(buffer));
}

AdbResult AdbClient::ExecToFile(const std::string& serial, const std::string& command,
                                const std::string& path, double deadline) {
    std::unique_ptr<ByteSink> file;
    // The file is created once the device has started answering, so a request that never
    // reaches the device leaves no file behind.
    const OutputSink write = [&](std::string_view bytes, std::string* error) {
        if (!file) file = system_.CreateOutputFile(path);
        if (file && file->Write(bytes)) return true;
        *error = "cannot write " + path;
        return false;
    };
    AdbResult result = DeviceRequest(
        serial, ExecRequest(command),
        [&write](Connection& connection, double until) { return connection.Stream(write, until); },
        deadline);
    if (!result.ok()) {
        if (file) file->Discard();  // never leave half a picture behind
        return result;
    }
    if (!file) file = system_.CreateOutputFile(path);  // the command printed nothing
    if (!file || !file->Close()) return Outcome(AdbOutcome::kError, "cannot write " + path);
    return result;
}

}  // namespace adb
