#include "farm/run/set_summary.h"

#include <utility>

#include "farm/command/request.h"

namespace {

// How the text and the reason name the VMs of each verdict.
const char* PhraseOf(Verdict verdict, bool running_query) {
    switch (verdict) {
        case Verdict::kOk:
            return running_query ? "running" : "ok";
        case Verdict::kDetached:
            return "started without waiting";
        case Verdict::kNotRunning:
            return "not running";
        case Verdict::kFailed:
            return "failed";
        case Verdict::kTimedOut:
            return "timed out";
        case Verdict::kDeadline:
            return "passed the deadline";
        case Verdict::kNotStarted:
            return "not started";
    }
    return "failed";
}

constexpr Verdict kOrder[] = {Verdict::kOk,        Verdict::kDetached, Verdict::kNotRunning,
                              Verdict::kFailed,    Verdict::kTimedOut, Verdict::kDeadline,
                              Verdict::kNotStarted};

}  // namespace

SetSummary SummarizeSet(const std::vector<VmResult>& results, const VerbRow& verb) {
    const bool running_query = verb.job == VmJob::kRunning;
    SetSummary summary;
    summary.total = results.size();
    for (const VmResult& result : results) {
        ++summary.counts[static_cast<size_t>(result.verdict)];
        const int code = ExitCodeOf(result.verdict);
        if (code == kExitDeadline || summary.exit_code == kExitOk) summary.exit_code = code;
    }

    // The text names ok and failed always (running and not running for `running`), the rest
    // when there are any.
    std::string counts;
    std::vector<std::pair<size_t, const char*>> bad;
    for (Verdict verdict : kOrder) {
        const size_t count = summary.Count(verdict);
        const bool always = verdict == Verdict::kOk || verdict == Verdict::kFailed ||
                            (running_query && verdict == Verdict::kNotRunning);
        if (count > 0 || always)
            counts += (counts.empty() ? "" : ", ") + std::to_string(count) + " " +
                      PhraseOf(verdict, running_query);
        if (count > 0 && ExitCodeOf(verdict) != kExitOk)
            bad.emplace_back(count, PhraseOf(verdict, running_query));
    }
    summary.text = std::to_string(summary.total) + " VMs: " + counts + ".";

    if (bad.empty()) return summary;
    size_t bad_total = 0;
    std::string parts;
    for (const auto& [count, phrase] : bad) {
        bad_total += count;
        parts += (parts.empty() ? "" : ", ") + std::to_string(count) + " " + phrase;
    }
    summary.message = std::to_string(bad_total) + " of " + std::to_string(summary.total) + " VMs " +
                      (bad.size() == 1 ? bad.front().second : "did not succeed: " + parts);
    return summary;
}
