// The console companion's reading of a tool run, which a script can trust: a run succeeds only
// when the tool started and ended, its exit code is 0, its reply is no error, and the
// operation's result phrase (where it has one) stands in the reply as a word of its own. The
// window keeps reading replies by their phrases alone (ReplySucceeds).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "control/operations.h"
#include "process/tool_runner.h"

// Whether the reply holds the operation's result as the companion reads it: as ReplySucceeds
// does, except that a result phrase counts only where no letter stands before it, so
// "UNSUCCESSFUL" and "NOSUCCESS" hold no "SUCCESS".
bool ReplyHoldsResult(Op op, std::string_view reply);

// Why the run failed, or nothing when it succeeded. A detached start succeeds once started.
std::optional<std::string> RunFailure(Op op, const ToolRun& run);
