// The Win32 command runner: "cmd.exe /c " + command, hidden, stdout and stderr on one pipe,
// polled while the window thread keeps processing messages.
#pragma once

#include <string>

#include "process/command_runner.h"

// Called once per chunk read (the chunk's zero-terminated text, valid during the call); a
// nonzero result stops the run and the chunk is not kept.
using OutputCallback = int(__stdcall*)(const char* chunk);

// timeout_ms below 1: no time-out. strip_line_ends removes every trailing "\r\n" pair.
std::string RunCommand(const std::string& command, int timeout_ms = 0,
                       OutputCallback callback = nullptr, bool strip_line_ends = false);

class WinCommandRunner : public CommandRunner {
public:
    std::string Run(const std::string& command, int timeout_ms = 0) override {
        return RunCommand(command, timeout_ms);
    }
};
