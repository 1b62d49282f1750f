#include "process/direct_runner_win.h"

#include <windows.h>

#include "process/captured_run_win.h"
#include "process/detached_start_win.h"
#include "win/error_text.h"
#include "win/wide_text.h"

namespace {

ToolRun NotStarted(const ToolCommand& command, DWORD error) {
    ToolRun run;
    run.end = RunEnd::kNotStarted;
    run.error = command.program + " could not be started from " + command.folder + ": " +
                SystemErrorText(error);
    return run;
}

}  // namespace

ToolRun DirectToolRunner::Run(const ToolCommand& command, const ToolRunOptions& options) {
    CaptureRequest request;
    request.application = WideFromGbk(command.folder + command.program);
    request.command_line = WideFromGbk(command.CommandLine());
    request.folder = WideFromGbk(command.folder);
    request.own_process_group = true;
    request.own_console = console_per_tool_;
    request.pump_messages = false;
    request.timeout_ms = options.timeout_ms;
    request.abandon = options.abandon;
    CaptureResult captured = RunCaptured(request);

    ToolRun run;
    run.output = std::move(captured.output);
    switch (captured.end) {
        case CaptureResult::End::kNotStarted:
            return NotStarted(command, captured.start_error);
        case CaptureResult::End::kExited:
        case CaptureResult::End::kStoppedByCallback:
            run.end = RunEnd::kExited;
            run.exit_code = captured.exit_code;
            break;
        case CaptureResult::End::kTimedOut:
            run.end = RunEnd::kTimedOut;
            break;
        case CaptureResult::End::kAbandoned:
            run.end = RunEnd::kAbandoned;
            break;
    }
    return run;
}

ToolRun DirectToolRunner::StartDetached(const ToolCommand& command) {
    DetachedStart start;
    start.application = WideFromGbk(command.folder + command.program);
    start.command_line = WideFromGbk(command.CommandLine());
    start.folder = WideFromGbk(command.folder);
    start.apart_from_console = true;
    if (const DWORD error = ::StartDetached(start)) return NotStarted(command, error);
    ToolRun run;
    run.end = RunEnd::kDetached;
    return run;
}
