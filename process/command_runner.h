// Portable view of the command runner: portable code (control module, one-key run) runs tool
// command lines through this interface, so a fake runner can test every line natively.
#pragma once

#include <string>

class CommandRunner {
public:
    virtual ~CommandRunner() = default;

    // Runs "cmd.exe /c " + command hidden, in the current directory, and returns everything
    // it wrote to stdout and stderr. timeout_ms below 1 means no time-out.
    virtual std::string Run(const std::string& command, int timeout_ms = 0) = 0;
};
