#include "process/direct_runner_win.h"

#include <windows.h>

#include "process/captured_run_win.h"
#include "process/detached_start_win.h"
#include "win/error_text.h"
#include "win/wide_text.h"

namespace {

ToolRun NotStarted(const std::string& folder, const std::string& line, DWORD error) {
    ToolRun run;
    run.end = RunEnd::kNotStarted;
    run.error =
        ToolFileOf(line) + " could not be started from " + folder + ": " + SystemErrorText(error);
    return run;
}

}  // namespace

ToolRun DirectToolRunner::Run(const std::string& folder, const std::string& line,
                              const ToolRunOptions& options) {
    CaptureRequest request;
    request.application = WideFromGbk(folder + ToolFileOf(line));
    request.command_line = WideFromGbk(line);
    request.folder = WideFromGbk(folder);
    request.own_process_group = true;
    request.own_console = true;
    request.pump_messages = false;
    request.timeout_ms = options.timeout_ms;
    request.abandon = options.abandon;
    CaptureResult captured = RunCaptured(request);

    ToolRun run;
    run.output = std::move(captured.output);
    switch (captured.end) {
        case CaptureResult::End::kNotStarted:
            return NotStarted(folder, line, captured.start_error);
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

ToolRun DirectToolRunner::StartDetached(const std::string& folder, const std::string& line) {
    DetachedStart start;
    start.application = WideFromGbk(folder + ToolFileOf(line));
    start.command_line = WideFromGbk(line);
    start.folder = WideFromGbk(folder);
    start.apart_from_console = true;
    if (const DWORD error = ::StartDetached(start)) return NotStarted(folder, line, error);
    ToolRun run;
    run.end = RunEnd::kDetached;
    return run;
}
