// Starting one of the emulator's tools directly, without a command interpreter in between, and
// what came of it. Portable: the console companion's core runs every line through this
// interface, so a fake runner tests it natively; the Windows runner is process/direct_runner_win.
// Runners are used from several threads at once: every run owns its own process and pipe.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

enum class RunEnd {
    kExited,      // the tool ended; exit_code and output hold what it gave
    kNotStarted,  // the tool could not be started; error says why
    kTimedOut,    // the time-out passed on a silent poll; the tool is left running
    kAbandoned,   // `abandon` said to stop waiting; the tool is left running
    kDetached,    // started without waiting, as asked; nothing captured
};

struct ToolRun {
    RunEnd end = RunEnd::kNotStarted;
    uint32_t exit_code = 0;
    std::string output;  // standard output and standard error together, as GBK bytes
    std::string error;   // kNotStarted: the system's reason
};

struct ToolRunOptions {
    // Stop waiting once the tool has been silent on a poll after this long; below 1: never.
    int timeout_ms = 0;
    // Asked on every poll; true stops waiting (a deadline, a stop request).
    std::function<bool()> abandon;
};

class ToolRunner {
public:
    virtual ~ToolRunner() = default;
    // Starts the tool that `line` names first (a bare file name) from `folder` (ending in a
    // backslash), which is also its current folder, with `line` as its command line, and
    // captures what it writes until it ends.
    virtual ToolRun Run(const std::string& folder, const std::string& line,
                        const ToolRunOptions& options) = 0;
    // The same start, hidden, without waiting for the tool: it gets no standard handles.
    virtual ToolRun StartDetached(const std::string& folder, const std::string& line) = 0;
};

// The tool's file name: the line up to its first blank.
std::string ToolFileOf(const std::string& line);
