// The console companion's tool runner: each line's tool is started by its full path in the
// given folder (no command interpreter reads the line), in a process group of its own so that
// Ctrl+C in the console reaches only the companion, which stops between commands. Safe to use
// from several threads at once.
#pragma once

#include "process/tool_runner.h"

class DirectToolRunner : public ToolRunner {
public:
    // `console_per_tool`: each waited-for tool gets a hidden console of its own instead of
    // sharing ours (see ToolsNeedConsolesOfTheirOwn).
    explicit DirectToolRunner(bool console_per_tool) : console_per_tool_(console_per_tool) {}

    ToolRun Run(const ToolCommand& command, const ToolRunOptions& options) override;
    ToolRun StartDetached(const ToolCommand& command) override;

private:
    bool console_per_tool_;
};

// Whether the tools this process starts need hidden consoles of their own: when this process
// has no console, a console tool would open a window; when the console was made for this
// process alone (its caller has none, as a script capturing our output through pipes), a tool
// left running on it would keep it alive, and with it what that console holds of the caller's
// (Wine's console host holds copies of the handles we were started with, the caller's pipes
// among them). On a console shared with the caller the tools share it too, and save the start
// of a console each. Asked once, before any tool starts.
bool ToolsNeedConsolesOfTheirOwn();
