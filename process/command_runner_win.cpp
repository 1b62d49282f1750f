#include "process/command_runner_win.h"

#include <windows.h>

#include "win/wide_text.h"

namespace {

// The command interpreter by its full path in the system folder: the program runs elevated,
// and a bare "cmd.exe" would be looked up in the program's own folder first.
std::wstring InterpreterPath() {
    wchar_t folder[MAX_PATH] = {};
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::wstring path(folder, n);
    if (path.back() != L'\\') path += L'\\';
    return path + L"cmd.exe";
}

void StripTrailingLineEnds(std::string& output) {
    while (output.size() >= 2 && output.compare(output.size() - 2, 2, "\r\n") == 0)
        output.resize(output.size() - 2);
}

// "cmd.exe /c " + command in the current folder. The command line is converted from GBK
// explicitly, so it reaches the interpreter intact whatever the system's ANSI code page is.
CaptureResult RunThroughInterpreter(const std::string& command, int timeout_ms,
                                    OutputCallback callback, std::function<bool()> abandon) {
    CaptureRequest request;
    request.application = InterpreterPath();
    request.command_line = WideFromGbk("cmd.exe /c " + command);
    request.timeout_ms = timeout_ms;
    request.callback = callback;
    request.abandon = std::move(abandon);
    if (request.application.empty() || request.command_line.empty()) return {};
    return RunCaptured(request);
}

}  // namespace

std::string RunCommand(const std::string& command, int timeout_ms, OutputCallback callback,
                       bool strip_line_ends) {
    std::string output = RunThroughInterpreter(command, timeout_ms, callback, nullptr).output;
    if (strip_line_ends) StripTrailingLineEnds(output);
    return output;
}

std::string RunCommandUntil(const std::string& command, const std::function<bool()>& abandon,
                            bool* abandoned, int timeout_ms) {
    CaptureResult result = RunThroughInterpreter(command, timeout_ms, nullptr, abandon);
    if (abandoned) *abandoned = result.end == CaptureResult::End::kAbandoned;
    return std::move(result.output);
}
