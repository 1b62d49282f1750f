#include "process/run_console_win.h"

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <string>

#include "process/listed_handles_start_win.h"
#include "win/unique_resource.h"

namespace {

// A keeper whose run never joins or ends it still ends by itself.
constexpr DWORD kKeeperLongestMs = 60000;
// How long the run waits for the keeper's console to be made, and between its tries.
constexpr DWORD kJoinLongestMs = 5000;
constexpr DWORD kJoinTryMs = 2;

std::atomic<bool> g_on_run_console{false};

// Input is left out: a console made for us alone hands out its input where the caller gave
// none, and nobody types into a console that shows nothing of ours.
bool OurOutputIsOnAConsole() {
    for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE handle = GetStdHandle(which);
        DWORD mode = 0;
        if (handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) return true;
    }
    return false;
}

std::wstring ThisProgram() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (size == 0) return {};
        if (size < path.size()) {
            path.resize(size);
            return path;
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

// Starts the keeper on a hidden console of its own, with the NUL device for its standard
// handles, the only handle it inherits.
UniqueHandle StartKeeper() {
    const std::wstring program = ThisProgram();
    if (program.empty()) return {};
    const UniqueFileHandle nul = OpenInheritableNul();
    if (!nul) return {};
    ListedHandlesStart start;
    start.application = program.c_str();
    start.command_line = L"\"" + program + L"\" " + kConsoleKeeperWord + L" " +
                         std::to_wstring(GetCurrentProcessId());
    start.flags = CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP;
    start.input = nul.get();
    start.output = nul.get();
    start.error = nul.get();
    DWORD error = 0;
    return StartWithListedHandles(start, &error).process;
}

// Ends the keeper however the join went: once we are on its console it is not needed.
class KeeperEnd {
public:
    explicit KeeperEnd(HANDLE keeper) : keeper_(keeper) {}
    KeeperEnd(const KeeperEnd&) = delete;
    KeeperEnd& operator=(const KeeperEnd&) = delete;
    ~KeeperEnd() {
        TerminateProcess(keeper_, 0);
        WaitForSingleObject(keeper_, kJoinLongestMs);
    }

private:
    HANDLE keeper_;
};

// Joins the keeper's console once it has been made: tries until it takes, the keeper ends or
// the wait is over.
bool JoinConsoleOf(HANDLE keeper) {
    const DWORD pid = GetProcessId(keeper);
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (AttachConsole(pid)) return true;
        if (WaitForSingleObject(keeper, kJoinTryMs) == WAIT_OBJECT_0) return false;
        if (GetTickCount64() - start >= kJoinLongestMs) return false;
    }
}

}  // namespace

int KeepConsoleFor(const wchar_t* parent_pid) {
    wchar_t* end = nullptr;
    const unsigned long pid = std::wcstoul(parent_pid, &end, 10);
    if (end == parent_pid || *end != L'\0') return 2;
    const UniqueHandle parent(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
    if (!parent) return 1;
    WaitForSingleObject(parent.get(), kKeeperLongestMs);
    return 0;
}

void JoinARunConsole() {
    if (!ToolsNeedConsolesOfTheirOwn() || OurOutputIsOnAConsole()) return;
    const UniqueHandle keeper = StartKeeper();
    if (!keeper) return;
    const KeeperEnd end(keeper.get());
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    FreeConsole();  // fails harmlessly when there is none
    const bool joined = JoinConsoleOf(keeper.get());
    // Joining may hand out the console's own handles where ours were empty: ours stay.
    SetStdHandle(STD_INPUT_HANDLE, input);
    SetStdHandle(STD_OUTPUT_HANDLE, output);
    SetStdHandle(STD_ERROR_HANDLE, error);
    g_on_run_console = joined;
}

bool ToolsNeedConsolesOfTheirOwn() {
    if (g_on_run_console) return false;
    DWORD attached[2] = {};
    return GetConsoleProcessList(attached, 2) < 2;
}
