// Starting a program without waiting for it: hidden, none of our handles inherited, nothing
// captured.
#pragma once

#include <windows.h>

#include <string>

struct DetachedStart {
    std::wstring application;  // the program's full path; empty: the system's search finds
                               // the line's first word
    std::wstring command_line;
    std::wstring folder;  // its current folder; empty: ours
    // The program gets the NUL device for its standard handles (inheriting that alone) and a
    // hidden console of its own, so a console program that started it neither shares its
    // console nor has its output, or its caller's, held by a tool that outlives it.
    bool apart_from_console = false;
};

// Starts the program and waits until it is idle for input or 1000 ms have passed. Returns 0,
// or the system's error code when the program could not be started.
DWORD StartDetached(const DetachedStart& start);
