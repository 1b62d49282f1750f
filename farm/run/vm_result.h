// What one VM's work came to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "farm/run/tool_step.h"

// What one VM's work came to, as the exit code, the counts and every output read it.
enum class Verdict {
    kOk,          // the work succeeded (for `running`: the VM runs)
    kDetached,    // the tool was started without waiting, as asked
    kNotRunning,  // `running`: the question was answered, and the VM does not run
    kFailed,      // a tool failed, did not start or gave no answer; `failure` says why
    kTimedOut,    // --timeout passed while a tool ran; the tool is left running
    kDeadline,    // the deadline passed while a tool ran; the tool is left running
    kNotStarted,  // Ctrl+C came before the VM's turn
};

struct VmResult {
    int32_t index = 0;
    Verdict verdict = Verdict::kFailed;
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

    bool detached = false;  // the tool was started without waiting

    // The first line the result names: the first step's command.
    std::string Command() const { return steps.empty() ? std::string() : steps.front().command; }
};

// The verdict the result's facts give. A passed deadline outweighs a time-out, which
// outweighs a failure: the tool that is left running is what the caller must know of.
Verdict Judge(const VmResult& result);

// True when the VM's work was done or its question answered: ok, detached or not running.
bool Answered(Verdict verdict);

// The exit code a verdict gives on its own: 0, 1, or 4 for the deadline.
int ExitCodeOf(Verdict verdict);

// "ok", "detached", "not_running", "failed", "timed_out", "deadline", "not_started".
const char* VerdictKey(Verdict verdict);
