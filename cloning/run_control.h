// State of the one running one-key run, shared by the click handler and the window's close
// request: a click during a run asks whether to stop it, and closing the window stops it after
// the current command and then closes the window.
#pragma once

struct RunControl {
    bool active = false;          // a one-key run is in progress
    bool stop_requested = false;  // the user asked to stop it after the current command
    bool close_pending = false;   // the window is to close once the run has ended
    bool asking = false;          // the stop question is on screen
};
