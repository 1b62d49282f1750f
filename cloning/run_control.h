// State of the one running one-key run, shared by the click handler and the window's close
// request: a click during a run asks whether to stop it, and closing the window stops it after
// the current command and then closes the window.
#pragma once

#include <cstdint>

// How long a command may still run after the user asked to stop before the run stops waiting
// for it (a hung tool would otherwise keep the run, and a closing window, forever).
inline constexpr uint32_t kStopGraceMs = 3000;

struct RunControl {
    bool active = false;          // a one-key run is in progress
    bool stop_requested = false;  // the user asked to stop it after the current command
    uint32_t stop_tick = 0;       // GetTickCount when the stop was asked for
    bool close_pending = false;   // the window is to close once the run has ended
    bool asking = false;          // the stop question is on screen
};
