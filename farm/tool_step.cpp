#include "farm/tool_step.h"

#include "control/strict_result.h"
#include "process/tool_runner.h"

namespace {

ToolRunOptions OptionsFor(FarmSystem& system, const StepLimits& limits) {
    ToolRunOptions options;
    options.timeout_ms = limits.timeout_ms;
    if (limits.deadline.at) {
        const Deadline deadline = limits.deadline;
        options.abandon = [&system, deadline] { return deadline.Passed(system); };
    }
    return options;
}

StepResult Finish(StepResult step, std::optional<std::string> failure, double started,
                  FarmSystem& system) {
    step.ok = !failure;
    if (failure) step.failure = std::move(*failure);
    step.seconds = system.Now() - started;
    return step;
}

}  // namespace

StepResult RunOperationStep(FarmSystem& system, const ToolFolders& folders, Op op,
                            const OperationArgs& args, const StepLimits& limits, bool detached) {
    const double started = system.Now();
    const ToolCommand command{folders.install, OperationProgram(op),
                              OperationToolArguments(op, args, TextStyle::kOneArgumentEach)};
    StepResult step;
    step.command = command.CommandLine();
    if (limits.deadline.Passed(system)) {
        step.run.end = RunEnd::kAbandoned;
    } else if (detached) {
        step.run = system.Tools().StartDetached(command);
    } else {
        step.run = system.Tools().Run(command, OptionsFor(system, limits));
    }
    std::optional<std::string> failure = RunFailure(op, step.run);
    return Finish(std::move(step), std::move(failure), started, system);
}
