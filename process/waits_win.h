// Waiting on the window thread without freezing the window.
#pragma once

// Dispatches the messages already queued; stops before WM_QUIT, which stays queued.
void PumpPendingMessages();

// Runs PumpPendingMessages when the queue holds keyboard or mouse-button input.
void PumpIfInputPending();

// Waits `duration` units (0 or absent: ms, 1: s, 2: min, 3: h) while dispatching window
// messages. Always returns true.
bool ResponsiveWait(int duration, int unit = 0);
