#include "process/detached_start_win.h"

#include <vector>

#include "process/listed_handles_start_win.h"
#include "win/unique_resource.h"

namespace {

constexpr DWORD kInputIdleWaitMs = 1000;

// Starts the line hidden, inheriting nothing. Returns the process, or an empty handle with the
// system's error in *error.
UniqueHandle StartInheritingNothing(const DetachedStart& start, DWORD* error) {
    // CreateProcessW may write into the line.
    std::vector<wchar_t> line(start.command_line.begin(), start.command_line.end());
    line.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    const wchar_t* application = start.application.empty() ? nullptr : start.application.c_str();
    const wchar_t* folder = start.folder.empty() ? nullptr : start.folder.c_str();
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(application, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder,
                        &startup, &started)) {
        *error = GetLastError();
        return {};
    }
    UniqueHandle thread(started.hThread);
    return UniqueHandle(started.hProcess);
}

// Starts the line hidden in a hidden console of its own, with the NUL device for all three
// standard handles, the only handle it inherits.
UniqueHandle StartApartFromConsole(const DetachedStart& start, DWORD* error) {
    const UniqueFileHandle nul = OpenInheritableNul();
    if (!nul) {
        *error = GetLastError();
        return {};
    }
    ListedHandlesStart listed;
    listed.application = start.application.empty() ? nullptr : start.application.c_str();
    listed.command_line = start.command_line;
    listed.folder = start.folder.empty() ? nullptr : start.folder.c_str();
    listed.flags = CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP;
    listed.input = nul.get();
    listed.output = nul.get();
    listed.error = nul.get();
    return StartWithListedHandles(listed, error).process;
}

}  // namespace

DWORD StartDetached(const DetachedStart& start) {
    DWORD error = 0;
    const UniqueHandle process = start.apart_from_console ? StartApartFromConsole(start, &error)
                                                          : StartInheritingNothing(start, &error);
    if (!process) return error;
    WaitForInputIdle(process.get(), kInputIdleWaitMs);
    return 0;
}
