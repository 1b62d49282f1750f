// The console companion's command line: one command per invocation, with global options
// before or after it. Read with CLI11 from the command table; the values are checked here so
// that every message names the argument. Portable: the arguments arrive as GBK texts.
#pragma once

#include <string>
#include <vector>

#include "farm/command/request.h"

struct ParseOutcome {
    enum class Kind { kRun, kHelp, kVersion, kUsageError };
    Kind kind = Kind::kRun;
    FarmRequest request;  // kRun; for a usage error, what was read of it (--json)
    std::string text;     // help text, version line, or the usage error's message
};

// `args` are the arguments after the program name.
ParseOutcome ParseFarmArgs(const std::vector<std::string>& args, const std::string& version);

// True when the arguments ask for JSON output (--json before any "--" and before adb's command
// word), also for a command line that cannot be read otherwise.
bool AsksForJson(const std::vector<std::string>& args);

// The help texts are made in cli/farm_help.h.
#include "cli/farm_help.h"
