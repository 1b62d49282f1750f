#include "bench/bare_run_win.h"

#include <windows.h>

#include <vector>

#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

std::wstring SystemInterpreter() {
    wchar_t folder[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    return std::wstring(folder, n) + L"\\cmd.exe";
}

// Runs `line` with `application` in `folder` (empty: ours) and returns what it wrote.
std::string RunCapturing(const std::wstring& application, const std::wstring& line,
                         const std::wstring& folder) {
    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof(inheritable);
    inheritable.bInheritHandle = TRUE;
    UniqueHandle read_end;
    UniqueHandle write_end;
    if (!CreatePipe(read_end.put(), write_end.put(), &inheritable, 0)) return {};
    SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);

    std::vector<wchar_t> writable(line.begin(), line.end());
    writable.push_back(L'\0');

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdOutput = write_end.get();
    startup.hStdError = write_end.get();
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(application.c_str(), writable.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        return {};
    }
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    write_end.reset();

    // Read before waiting: a child writing more than the pipe holds would otherwise block.
    std::string output;
    std::vector<char> buffer(64 * 1024);
    DWORD read = 0;
    while (ReadFile(read_end.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read,
                    nullptr) &&
           read > 0) {
        output.append(buffer.data(), read);
    }
    WaitForSingleObject(process.get(), INFINITE);
    return output;
}

}  // namespace

std::string BareRun(const std::string& command) {
    return RunCapturing(SystemInterpreter(), WideFromGbk("cmd.exe /c " + command), {});
}

std::string BareDirectRun(const std::string& folder, const std::string& line) {
    const std::string tool = line.substr(0, line.find(' '));
    return RunCapturing(WideFromGbk(folder + tool), WideFromGbk(line), WideFromGbk(folder));
}
