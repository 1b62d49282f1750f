#include "farm/run/vm_result.h"

#include "farm/command/request.h"

Verdict Judge(const VmResult& result) {
    if (!result.started) return Verdict::kNotStarted;
    if (result.deadline_passed) return Verdict::kDeadline;
    if (result.timed_out) return Verdict::kTimedOut;
    if (!result.ok) return Verdict::kFailed;
    if (result.running == false) return Verdict::kNotRunning;
    if (result.detached) return Verdict::kDetached;
    return Verdict::kOk;
}

bool Answered(Verdict verdict) {
    return verdict == Verdict::kOk || verdict == Verdict::kDetached ||
           verdict == Verdict::kNotRunning;
}

int ExitCodeOf(Verdict verdict) {
    switch (verdict) {
        case Verdict::kOk:
        case Verdict::kDetached:
            return kExitOk;
        case Verdict::kDeadline:
            return kExitDeadline;
        case Verdict::kNotRunning:
        case Verdict::kFailed:
        case Verdict::kTimedOut:
        case Verdict::kNotStarted:
            return kExitFailed;
    }
    return kExitFailed;
}

const char* VerdictKey(Verdict verdict) {
    switch (verdict) {
        case Verdict::kOk:
            return "ok";
        case Verdict::kDetached:
            return "detached";
        case Verdict::kNotRunning:
            return "not_running";
        case Verdict::kFailed:
            return "failed";
        case Verdict::kTimedOut:
            return "timed_out";
        case Verdict::kDeadline:
            return "deadline";
        case Verdict::kNotStarted:
            return "not_started";
    }
    return "failed";
}
