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
