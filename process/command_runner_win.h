// The Win32 command runner: "cmd.exe /c " + command, hidden, stdout and stderr on one pipe,
// polled while the window thread keeps processing messages.
#pragma once

#include <functional>
#include <string>

#include "process/command_runner.h"

// Called once per chunk read (the chunk's zero-terminated text, valid during the call); a
// nonzero result stops the run and the chunk is not kept.
using OutputCallback = int(__stdcall*)(const char* chunk);

// timeout_ms below 1: no time-out. strip_line_ends removes every trailing "\r\n" pair.
std::string RunCommand(const std::string& command, int timeout_ms = 0,
                       OutputCallback callback = nullptr, bool strip_line_ends = false);

// As RunCommand with a time-out but no callback or strip flag, except that it also stops
// waiting once `abandon` returns true. Unlike the time-out, which is consulted only on polls
// that find no data, `abandon` is asked on every poll, so a tool that never stops writing is
// given up too. The child goes on unobserved. *abandoned tells whether that happened.
std::string RunCommandUntil(const std::string& command, const std::function<bool()>& abandon,
                            bool* abandoned, int timeout_ms = 0);

// For console programs: every command starts in a process group of its own, so Ctrl+C in the
// program's console reaches the program alone (which stops after the current command) rather
// than the tool in the middle of its work. The window has no console and leaves this off.
void SetCommandsInOwnProcessGroup(bool own_group);

class WinCommandRunner : public CommandRunner {
public:
    std::string Run(const std::string& command, int timeout_ms = 0) override {
        return RunCommand(command, timeout_ms);
    }
};
