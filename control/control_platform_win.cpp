#include "control/control_platform_win.h"

#include <windows.h>

#include <vector>

#include "install/discovery_win.h"
#include "process/command_runner_win.h"
#include "process/detached_start_win.h"
#include "process/waits_win.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

// Window handles travel as 32-bit values: user handles fit in 32 bits on 64-bit Windows too,
// and widening sign-extends them as the system does between 32- and 64-bit processes.
HWND WindowFromValue(int32_t value) {
    return reinterpret_cast<HWND>(static_cast<intptr_t>(value));
}
int32_t ValueFromWindow(HWND window) {
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(window));
}

}  // namespace

std::string WinControlPlatform::Run(const std::string& command, int timeout_ms) {
    return RunCommand(command, timeout_ms);
}

void WinControlPlatform::StartDetached(const std::string& command) {
    // No application name: the system's search order finds the bare tool name. A start that
    // fails is not reported: a detached start has no result.
    DetachedStart start;
    start.command_line = WideFromGbk(command);
    ::StartDetached(start);
}

std::string WinControlPlatform::CurrentDirectory() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) return {};
        // Success gives the length without the terminator; a short buffer gives the size needed.
        if (length < buffer.size()) return GbkFromWide(std::wstring_view(buffer.data(), length));
        buffer.resize(length + 1);
    }
}

bool WinControlPlatform::MakeDirectoryCurrent(const std::string& folder) {
    return SetCurrentDirectoryW(WideFromGbk(folder).c_str()) != FALSE;
}

bool WinControlPlatform::FileExists(const std::string& path) {
    return ::FileExists(path);
}

std::string WinControlPlatform::DiscoverInstallDirectory() {
    return ::DiscoverInstallDirectory();
}

int32_t WinControlPlatform::WindowWalk(int32_t window) {
    return WalkFromVmWindow(window);
}

int32_t WalkFromVmWindow(int32_t window) {
    static constexpr UINT kSteps[] = {GW_CHILD, GW_HWNDNEXT, GW_CHILD,
                                      GW_CHILD, GW_HWNDNEXT, GW_HWNDNEXT};
    HWND current = WindowFromValue(window);
    for (UINT step : kSteps) {
        current = GetWindow(current, step);
        if (current == nullptr) return 0;
    }
    return ValueFromWindow(current);
}

void WinControlPlatform::ResponsiveWaitOneMs() {
    ResponsiveWait(1);
}

int32_t WinControlPlatform::TickCount() {
    return static_cast<int32_t>(GetTickCount());
}
