#include "farm/run/farm_system_win.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cmath>

#include "control/control_platform_win.h"
#include "farm/command/request.h"
#include "install/discovery_win.h"
#include "process/worker_threads_win.h"
#include "win/error_text.h"
#include "win/steady_clock.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

std::atomic<int> g_interrupts{0};
std::atomic<void (*)()> g_on_first{nullptr};
std::atomic<void (*)()> g_on_second{nullptr};
// Set at the first Ctrl+C: ends every wait of Sleep at once.
HANDLE StopEvent() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

BOOL WINAPI OnInterrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (g_interrupts.fetch_add(1) == 0) {
        SetEvent(StopEvent());
        if (void (*on_first)() = g_on_first.load()) on_first();
        return TRUE;
    }
    if (void (*on_second)() = g_on_second.load()) on_second();
    ExitProcess(kExitFailed);  // a step did not finish; the tools running are left running
}

}  // namespace

WinFarmSystem::WinFarmSystem() {
    // The tools the program starts inherit none of its handles but their own pipe; our standard
    // handles are kept from them too: a tool left running (after --deadline, or one that starts
    // a VM) would otherwise hold a caller's output pipe open long after we have ended.
    for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE handle = GetStdHandle(which);
        if (handle && handle != INVALID_HANDLE_VALUE)
            SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
    }
}

int32_t WinFarmSystem::WindowWalk(int32_t window) {
    return WalkFromVmWindow(window);
}

bool WinFarmSystem::FileExists(const std::string& path) {
    return ::FileExists(path);
}

std::string WinFarmSystem::FileStart(const std::string& path, size_t size) {
    const UniqueFileHandle file(CreateFileW(WideFromGbk(path).c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    // No more room than the file has: a capture's bound is 32 MiB, its PNG a few hundred KB, and
    // a buffer of the bound would be committed (and zeroed) whole for each one.
    LARGE_INTEGER length = {};
    if (!GetFileSizeEx(file.get(), &length) || length.QuadPart < 0) return {};
    std::string bytes(std::min<unsigned long long>(size, length.QuadPart), '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
        return {};
    bytes.resize(read);
    return bytes;
}

std::optional<std::string> WinFarmSystem::RemoveFile(const std::string& path) {
    if (DeleteFileW(WideFromGbk(path).c_str())) return std::nullopt;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
    return SystemErrorText(error);
}

std::string WinFarmSystem::DiscoverInstallDirectory() {
    return ::DiscoverInstallDirectory();
}

std::string WinFarmSystem::Utf8FromGbk(std::string_view gbk) {
    return Utf8FromWide(WideFromGbk(gbk));
}

int32_t WinFarmSystem::TickCount() {
    return static_cast<int32_t>(GetTickCount());
}

double WinFarmSystem::Now() {
    return SteadySeconds();
}

void WinFarmSystem::Sleep(double seconds) {
    if (!(seconds > 0)) return;
    const double milliseconds = std::min(std::ceil(seconds * 1000), 4.0e9);
    WaitForSingleObject(StopEvent(), static_cast<DWORD>(milliseconds));
}

void WinFarmSystem::RunWorkers(size_t count, const std::function<void()>& work) {
    RunOnThreads(count, kWorkerStackBytes, work);
}

bool WinFarmSystem::StopRequested() {
    return g_interrupts.load() > 0;
}

void WinFarmSystem::CatchInterrupts(void (*on_first)(), void (*on_second)()) {
    g_on_first = on_first;
    g_on_second = on_second;
    StopEvent();
    SetConsoleCtrlHandler(OnInterrupt, TRUE);
}
