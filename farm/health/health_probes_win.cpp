#include "farm/health/health_probes_win.h"

#include <windows.h>

#include "process/process_list_win.h"

namespace {

constexpr UINT kWindowAnswerMs = 2000;

}  // namespace

std::optional<std::vector<ProcessReading>> WinHealthProbes::ProcessList() {
    return ReadProcessList();
}

WindowAnswer WinHealthProbes::AskWindow(int32_t window) {
    if (window < 1) return WindowAnswer::kNone;
    // Window handles travel as 32-bit values; widening sign-extends them as the system does.
    HWND handle = reinterpret_cast<HWND>(static_cast<intptr_t>(window));
    if (!IsWindow(handle)) return WindowAnswer::kUnknown;
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(handle, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kWindowAnswerMs, &result))
        return WindowAnswer::kResponding;
    // A window that went away meanwhile could not be asked; otherwise it is hung or too slow.
    return IsWindow(handle) ? WindowAnswer::kHung : WindowAnswer::kUnknown;
}

int64_t WinHealthProbes::SystemTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) |
                                now.dwLowDateTime);
}

int WinHealthProbes::Cores() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}
