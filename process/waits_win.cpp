#include "process/waits_win.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "win/unique_resource.h"

namespace {

DialogMessageFilter g_dialog_filter = nullptr;
TimerCreator g_create_timer = CreateWaitableTimerExW;

// A timer that fires at its due time rather than on the next system tick (15.6 ms by
// default); Windows 10 1803 and later. Older systems refuse the flag.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
constexpr DWORD CREATE_WAITABLE_TIMER_HIGH_RESOLUTION = 0x2;
#endif
constexpr DWORD kTimerAccess = SYNCHRONIZE | TIMER_MODIFY_STATE;

// Wake mask of the responsive wait: every queue event except raw input.
constexpr DWORD kWakeMask = 0xFF;

double MillisecondsPerUnit(int unit) {
    switch (unit) {
        case 1:
            return 1000.0;
        case 2:
            return 60000.0;
        case 3:
            return 3600000.0;
        default:
            return 1.0;
    }
}

// Relative due time in 100 ns intervals (negative), cut toward zero and kept in range.
int64_t RelativeDueTime(double milliseconds) {
    double due = std::trunc(milliseconds * -10000.0);
    if (due <= static_cast<double>(std::numeric_limits<int64_t>::min()))
        return std::numeric_limits<int64_t>::min();
    if (due >= static_cast<double>(std::numeric_limits<int64_t>::max()))
        return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(due);
}

// Used when no waitable timer can be had: short sleeps with a pump after each, so the wait
// neither spins nor freezes the window.
void SleepingWait(double milliseconds) {
    if (!(milliseconds > 0)) return;
    const ULONGLONG start = GetTickCount64();
    const double total = std::min(milliseconds, 1.0e15);
    for (;;) {
        double left = total - static_cast<double>(GetTickCount64() - start);
        if (left <= 0) return;
        Sleep(static_cast<DWORD>(std::min(left, 10.0)) + (left < 1.0 ? 1 : 0));
        PumpPendingMessages();
    }
}

// A timer set to fire after `due` (relative), high-resolution where the system has one: a 1 ms
// wait on a classic timer lasts a whole system tick. Null when no timer can be had.
UniqueHandle StartTimer(const LARGE_INTEGER& due) {
    for (DWORD flags : {CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, DWORD{0}}) {
        UniqueHandle timer(g_create_timer(nullptr, nullptr, flags, kTimerAccess));
        if (timer && SetWaitableTimer(timer.get(), &due, 0, nullptr, nullptr, FALSE)) return timer;
    }
    return {};
}

LARGE_INTEGER DueAfter(double milliseconds) {
    LARGE_INTEGER due;
    due.QuadPart = RelativeDueTime(milliseconds);
    return due;
}

}  // namespace

TimerCreator SetTimerCreator(TimerCreator creator) {
    TimerCreator previous = g_create_timer;
    g_create_timer = creator ? creator : CreateWaitableTimerExW;
    return previous;
}

DialogMessageFilter SetDialogMessageFilter(DialogMessageFilter filter) {
    DialogMessageFilter previous = g_dialog_filter;
    g_dialog_filter = filter;
    return previous;
}

void PumpPendingMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE) && message.message != WM_QUIT) {
        if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) return;
        if (message.message == WM_QUIT) {
            // Arrived between the two looks: put it back and leave it for the message loop.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (g_dialog_filter && g_dialog_filter(&message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void PumpIfInputPending() {
    if (GetInputState()) PumpPendingMessages();
}

bool ResponsiveWait(int duration, int unit) {
    const double milliseconds = static_cast<double>(duration) * MillisecondsPerUnit(unit);
    UniqueHandle timer = StartTimer(DueAfter(milliseconds));
    if (!timer) {
        SleepingWait(milliseconds);
        return true;
    }
    const ULONGLONG start = GetTickCount64();
    HANDLE handle = timer.get();
    for (;;) {
        DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, kWakeMask);
        if (result == WAIT_OBJECT_0) break;
        if (result == WAIT_FAILED) {
            SleepingWait(milliseconds - static_cast<double>(GetTickCount64() - start));
            break;
        }
        PumpPendingMessages();
    }
    return true;
}

PollWait::PollWait(HANDLE process, bool pump_messages)
    : timer_(StartTimer(DueAfter(0))), process_(process), pump_messages_(pump_messages) {}

void PollWait::Wait(int milliseconds) {
    const LARGE_INTEGER due = DueAfter(milliseconds);
    const bool armed = timer_ && SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, FALSE);
    if (!pump_messages_) {
        // Without a timer the process alone bounds a wait of the same length.
        const HANDLE handles[] = {process_, timer_.get()};
        WaitForMultipleObjects(armed ? 2 : 1, handles, FALSE,
                               armed ? INFINITE : static_cast<DWORD>(milliseconds));
        return;
    }
    if (!armed) {
        ResponsiveWait(milliseconds);
        return;
    }
    const HANDLE handles[] = {timer_.get(), process_};
    for (;;) {
        const DWORD result = MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, kWakeMask);
        if (result == WAIT_OBJECT_0 || result == WAIT_OBJECT_0 + 1) return;
        if (result == WAIT_FAILED) {
            ResponsiveWait(milliseconds);
            return;
        }
        PumpPendingMessages();
    }
}
