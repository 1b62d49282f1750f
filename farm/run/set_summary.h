// What a command over a set of VMs came to, from the VMs' verdicts alone: the counts, the exit
// code, the one-line reason and the closing line of the text output. Every output (text, JSON,
// exit code) reads it, so they cannot disagree.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "farm/command/verb_rows.h"
#include "farm/run/vm_result.h"

struct SetSummary {
    size_t total = 0;
    std::array<size_t, 7> counts{};  // by Verdict
    int exit_code = 0;
    std::string message;  // why the exit code is not 0; empty when it is
    std::string text;     // "3 VMs: 2 ok, 1 failed."

    size_t Count(Verdict verdict) const { return counts[static_cast<size_t>(verdict)]; }
};

SetSummary SummarizeSet(const std::vector<VmResult>& results, const VerbRow& verb);
