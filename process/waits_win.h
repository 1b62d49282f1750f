// Waiting on the window thread without freezing the window.
#pragma once

#include <windows.h>

// Dispatches the messages already queued; stops before WM_QUIT, which stays queued.
void PumpPendingMessages();

// Runs PumpPendingMessages when the queue holds keyboard or mouse-button input.
void PumpIfInputPending();

// Waits `duration` units (0 or absent: ms, 1: s, 2: min, 3: h) while dispatching window
// messages. Always returns true. Other units count as milliseconds. Waits on a high-resolution
// waitable timer where the system has one, else on a classic one (which fires on the system
// tick), else in short sleeps; the system's timer resolution is left alone.
bool ResponsiveWait(int duration, int unit = 0);

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
