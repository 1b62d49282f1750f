// Waiting on the window thread without freezing the window.
#pragma once

#include <windows.h>

// Dispatches the messages already queued; stops before WM_QUIT, which stays queued.
void PumpPendingMessages();

// Runs PumpPendingMessages when the queue holds keyboard or mouse-button input.
void PumpIfInputPending();

// Waits `duration` units (0 or absent: ms, 1: s, 2: min, 3: h) while dispatching window
// messages. Always returns true. Other units count as milliseconds.
bool ResponsiveWait(int duration, int unit = 0);

// Lets the window layer see every message the pumps take before it is translated and
// dispatched (for IsDialogMessage-style Tab handling); a filter that returns true has handled
// the message. Null removes the filter. Returns the previous filter.
using DialogMessageFilter = bool (*)(MSG* message);
DialogMessageFilter SetDialogMessageFilter(DialogMessageFilter filter);
