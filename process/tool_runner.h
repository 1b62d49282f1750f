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

// One start of one of the emulator's tools: the program, its folder and its arguments, carried
// apart. The command line is made from them in one place, CommandLine(), both for the start
// and for every output that shows what ran, so the two never differ and nothing has to take a
// line apart to find its program.
struct ToolCommand {
    std::string folder;     // the program's folder, ending in a backslash; also its current one
    std::string program;    // the program's file name: "memuc.exe"
    std::string arguments;  // what the program reads after its name, from the blank before it
                            // and quoted as it reads it (" -i 1 rename \"x\"")

    std::string CommandLine() const { return program + arguments; }
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
    // Starts the command's program by its full path, from its folder, with the command's
    // line, and captures what it writes until it ends.
    virtual ToolRun Run(const ToolCommand& command, const ToolRunOptions& options) = 0;
    // The same start, hidden, without waiting for the program.
    virtual ToolRun StartDetached(const ToolCommand& command) = 0;
};
