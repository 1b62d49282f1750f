// What one VM's work came to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "farm/tool_step.h"

struct VmResult {
    int32_t index = 0;
    bool ok = false;
    bool started = true;           // false: never started (Ctrl+C came first)
    bool timed_out = false;        // a --timeout or the deadline passed while a tool ran
    bool deadline_passed = false;  // it was the deadline
    double seconds = 0;
    double started_at = 0;          // when its work was handed out, on the system's clock
    std::vector<StepResult> steps;  // every line it ran, in order
    std::string output;             // the result text: the reply, or the first step's output
    std::string failure;            // why it failed; empty when ok
    std::optional<bool> running;    // `running`: the answer, when the question was answered
    std::optional<bool> booted;     // `start --boot`: whether Android finished booting

    // The first line the result names: the first step's command.
    std::string Command() const { return steps.empty() ? std::string() : steps.front().command; }
};
