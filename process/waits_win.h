// Waiting on the window thread without freezing the window.
#pragma once

#include <windows.h>

#include "win/unique_resource.h"

// Dispatches the messages already queued; stops before WM_QUIT, which stays queued.
void PumpPendingMessages();

// Runs PumpPendingMessages when the queue holds keyboard or mouse-button input.
void PumpIfInputPending();

// Waits `duration` units (0 or absent: ms, 1: s, 2: min, 3: h) while dispatching window
// messages. Always returns true. Other units count as milliseconds. Waits on a high-resolution
// waitable timer where the system has one, else on a classic one (which fires on the system
// tick), else in short sleeps; the system's timer resolution is left alone.
bool ResponsiveWait(int duration, int unit = 0);

// The command runner's wait between two polls of a running command: one timer for the whole
// run, armed again for each wait, and the child process, whose end cuts a wait short so that
// the end of a command is noticed when it happens. With `pump_messages` it dispatches window
// messages like ResponsiveWait; without, it only waits (a console program's worker threads).
class PollWait {
public:
    PollWait(HANDLE process, bool pump_messages);

    // Waits `milliseconds`, or until the process has ended.
    void Wait(int milliseconds);

private:
    UniqueHandle timer_;  // empty when no timer could be had
    HANDLE process_;
    bool pump_messages_;
};

// How ResponsiveWait creates its timers: CreateWaitableTimerExW, or a stand-in that tests use
// to refuse some kinds of timer. Null puts CreateWaitableTimerExW back. Returns the previous.
using TimerCreator = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name, DWORD flags,
                                     DWORD access);
TimerCreator SetTimerCreator(TimerCreator creator);

// Lets the window layer see every message the pumps take before it is translated and
// dispatched (for IsDialogMessage-style Tab handling); a filter that returns true has handled
// the message. Null removes the filter. Returns the previous filter.
using DialogMessageFilter = bool (*)(MSG* message);
DialogMessageFilter SetDialogMessageFilter(DialogMessageFilter filter);
