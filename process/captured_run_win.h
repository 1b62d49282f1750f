// Running a program with its standard output and standard error captured through one pipe,
// polled until it ends. The window's command runner (through cmd.exe) and the console
// companion's tool runner (the tool itself) both start their programs here.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Called once per chunk read (the chunk's zero-terminated text, valid during the call); a
// nonzero result stops the run and the chunk is not kept.
using OutputCallback = int(__stdcall*)(const char* chunk);

struct CaptureRequest {
    std::wstring application;   // the program's full path
    std::wstring command_line;  // the whole line, the program's own name first
    std::wstring folder;        // the program's current folder; empty: ours
    // Ctrl+C in our console does not reach the program: for console programs, whose user
    // stops them after the current command rather than the tool in the middle of its work.
    bool own_process_group = false;
    // The program gets a hidden console of its own rather than sharing ours, so that a program
    // left running never keeps our console, and with it our console's host, alive. Under Wine
    // that host holds a copy of every inheritable handle of ours from our start: our caller's
    // streams too, so the caller would wait for the program's end.
    bool own_console = false;
    // Keeps a window thread responsive while waiting (the window's runs).
    bool pump_messages = true;
    int timeout_ms = 0;  // below 1: none; consulted on polls that find no output
    OutputCallback callback = nullptr;
    std::function<bool()> abandon;  // asked on every poll
};

struct CaptureResult {
    enum class End { kExited, kNotStarted, kTimedOut, kAbandoned, kStoppedByCallback };
    End end = End::kNotStarted;
    DWORD exit_code = 0;    // kExited
    DWORD start_error = 0;  // kNotStarted: the system's error code
    std::string output;
};

CaptureResult RunCaptured(const CaptureRequest& request);
