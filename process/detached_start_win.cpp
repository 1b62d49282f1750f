#include "process/detached_start_win.h"

#include <vector>

#include "win/unique_resource.h"

namespace {

constexpr DWORD kInputIdleWaitMs = 1000;

}  // namespace

DWORD StartDetached(const DetachedStart& start) {
    // CreateProcessW may write into the line.
    std::vector<wchar_t> line(start.command_line.begin(), start.command_line.end());
    line.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    DWORD flags = 0;
    if (start.apart_from_console) {
        startup.dwFlags |= STARTF_USESTDHANDLES;  // all three null
        flags = CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP;
    }
    const wchar_t* application = start.application.empty() ? nullptr : start.application.c_str();
    const wchar_t* folder = start.folder.empty() ? nullptr : start.folder.c_str();
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(application, line.data(), nullptr, nullptr, FALSE, flags, nullptr, folder,
                        &startup, &started)) {
        return GetLastError();
    }
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
    WaitForInputIdle(process.get(), kInputIdleWaitMs);
    return 0;
}
