#include "farm/run/tool_step.h"

#include "adb/adb_codec.h"
#include "control/strict_result.h"
#include "process/tool_runner.h"

namespace {

// How long a request to the adb server may wait when the run gives it neither a time-out nor a
// deadline. A server or device that stops answering then ends that one request as timed out
// instead of holding its VM, and the whole run, for ever. Every device verb answers in well
// under a second on a working device; a screenshot of a large screen takes a few.
constexpr double kDefaultDeviceRequestSeconds = 60;
constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1a\n";

// How long a request may wait, and whether the deadline (rather than the time-out) bounds it.
struct ServerWait {
    double seconds = kDefaultDeviceRequestSeconds;
    bool deadline_bound = false;
};

// The run's own limits when it gives any (the nearer of the two), else the default.
ServerWait WaitFor(FarmSystem& system, const StepLimits& limits) {
    ServerWait wait;
    if (limits.timeout_ms > 0) wait.seconds = limits.timeout_ms / 1000.0;
    if (limits.deadline.at) {
        const double left = *limits.deadline.at - system.Now();
        if (limits.timeout_ms <= 0 || left <= wait.seconds) wait = {left, true};
    }
    return wait;
}

// How a step through the server is named: "host:transport:<serial> + shell:<command>".
std::string Request(const std::string& serial, const std::string& service) {
    return adb::TransportRequest(serial) + " + " + service;
}

// The run's deadline passed while "adb.exe start-server" ran for this request.
bool StartServerLeftRunning(const adb::AdbResult& reply) {
    return reply.outcome == adb::AdbOutcome::kTimedOut && reply.message == kStartServerLeftRunning;
}

// The server's reply as a tool run, so that verdicts and outputs read both alike.
ToolRun RunOf(const adb::AdbResult& reply, const ServerWait& wait) {
    ToolRun run;
    run.end = RunEnd::kExited;
    run.output = reply.output;
    if (reply.outcome == adb::AdbOutcome::kTimedOut)
        run.end = wait.deadline_bound || StartServerLeftRunning(reply) ? RunEnd::kAbandoned
                                                                       : RunEnd::kTimedOut;
    if (!reply.ok()) {
        run.exit_code = 1;
        run.error = reply.message;
    }
    return run;
}

std::optional<std::string> ReplyFailure(Op op, const adb::AdbResult& reply,
                                        const ServerWait& wait) {
    switch (reply.outcome) {
        case adb::AdbOutcome::kOk:
            break;
        case adb::AdbOutcome::kTimedOut:
            if (StartServerLeftRunning(reply)) return reply.message;
            return wait.deadline_bound ? "the deadline passed while waiting for the adb server"
                                       : "the adb server did not answer within the time-out";
        case adb::AdbOutcome::kFailed:
            return "the adb server refused the request: " + reply.message;
        case adb::AdbOutcome::kNoServer:
        case adb::AdbOutcome::kError:
            return "the adb server request failed: " + reply.message;
    }
    if (RowOf(op).rule == ResultRule::kPhrase && !ReplyHoldsResult(op, reply.output))
        return "the reply lacks \"" + std::string(RowOf(op).phrase) + "\"";
    return std::nullopt;
}

StepResult Abandoned(std::string command) {
    StepResult step;
    step.command = std::move(command);
    step.run.end = RunEnd::kAbandoned;
    step.failure = "the deadline had passed before the step's turn";
    return step;
}

ToolRunOptions OptionsFor(FarmSystem& system, const StepLimits& limits) {
    ToolRunOptions options;
    options.timeout_ms = limits.timeout_ms;
    if (limits.deadline.at) {
        const Deadline deadline = limits.deadline;
        options.abandon = [&system, deadline] { return deadline.Passed(system); };
    }
    return options;
}

StepResult Finish(StepResult step, std::optional<std::string> failure, double started,
                  FarmSystem& system) {
    step.ok = !failure;
    if (failure) step.failure = std::move(*failure);
    step.seconds = system.Now() - started;
    return step;
}

}  // namespace

StepResult RunOperationStep(FarmSystem& system, const ToolFolders& folders, Op op,
                            const OperationArgs& args, const StepLimits& limits, bool detached) {
    const double started = system.Now();
    const ToolCommand command{folders.install, OperationProgram(op),
                              OperationToolArguments(op, args, TextStyle::kOneArgumentEach)};
    StepResult step;
    step.command = command.CommandLine();
    if (limits.deadline.Passed(system)) {
        step.run.end = RunEnd::kAbandoned;
    } else if (detached) {
        step.run = system.Tools().StartDetached(command);
    } else {
        step.run = system.Tools().Run(command, OptionsFor(system, limits));
    }
    std::optional<std::string> failure = RunFailure(op, step.run);
    return Finish(std::move(step), std::move(failure), started, system);
}

StepResult RunDeviceStep(FarmSystem& system, const ToolFolders& folders, Op op,
                         const OperationArgs& args, const StepLimits& limits) {
    DeviceChannel& devices = system.Devices();
    if (!RowOf(op).via_server || devices.Way() == AdbWay::kProcess)
        return RunOperationStep(system, folders, op, args, limits);
    const double started = system.Now();
    const std::string serial = DeviceSerial(args.index);
    const std::string command = DeviceCommand(op, args);
    const std::string request = Request(serial, adb::ShellRequest(command));
    if (limits.deadline.Passed(system)) return Abandoned(request);
    const ServerWait wait = WaitFor(system, limits);
    const std::optional<adb::AdbResult> reply =
        devices.Shell(folders.install, serial, command, wait.seconds, limits.deadline.at);
    if (!reply) return RunOperationStep(system, folders, op, args, limits);
    StepResult step;
    step.command = request;
    step.run = RunOf(*reply, wait);
    return Finish(std::move(step), ReplyFailure(op, *reply, wait), started, system);
}

std::optional<StepResult> RunScreenshotStep(FarmSystem& system, const ToolFolders& folders,
                                            int32_t index, const std::string& path,
                                            const StepLimits& limits) {
    DeviceChannel& devices = system.Devices();
    if (devices.Way() == AdbWay::kProcess) return std::nullopt;
    const double started = system.Now();
    const std::string serial = DeviceSerial(index);
    const std::string command = DeviceCommand(Op::kScreenStream, {index, {}, {}});
    const std::string request = Request(serial, adb::ExecRequest(command));
    if (limits.deadline.Passed(system)) return Abandoned(request);
    const ServerWait wait = WaitFor(system, limits);
    const std::optional<adb::AdbResult> reply = devices.ExecToFile(
        folders.install, serial, command, path, wait.seconds, limits.deadline.at);
    if (!reply) return std::nullopt;
    StepResult step;
    step.command = request;
    step.run = RunOf(*reply, wait);
    std::optional<std::string> failure = ReplyFailure(Op::kScreenCapture, *reply, wait);
    if (!failure && system.FileStart(path, kPngSignature.size()) != kPngSignature) {
        system.RemoveFile(path);
        failure = "what the device sent is not a PNG picture; " + path + " was deleted";
    }
    return Finish(std::move(step), std::move(failure), started, system);
}
