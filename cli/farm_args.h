// The console companion's command line: one command per invocation, with global options
// before or after it, read in one pass over the words by the command and option rows. Each
// word's place decides what it is: a word in an argument's place is that argument, whatever
// it looks like (one that begins with '-' there is refused with a pointer to "--", never
// taken as an option, so a text "-h" never prints the help and reports success). Portable:
// the arguments arrive as GBK texts.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "farm/command/request.h"

struct ParseOutcome {
    enum class Kind { kRun, kHelp, kVersion, kUsageError };
    Kind kind = Kind::kRun;
    FarmRequest request;  // kRun; for a usage error, what was read of it (--json)
    std::string text;     // help text, version line, or the usage error's message
};

// Makes a local path the command line names full: the caller's, taken from the folder the
// program started in, not from the emulator's folder the tools run in.
using PathResolver = std::function<std::string(const std::string& path)>;

// `args` are the arguments after the program name. Every path option and path argument (by its
// row's kind) is given to `full_path` when one is given.
ParseOutcome ParseFarmArgs(const std::vector<std::string>& args, const std::string& version,
                           const PathResolver& full_path = nullptr);

// True when the arguments ask for JSON output: --json among the program's own words (not an
// option's value, not after "--", not among adb's), wherever it stands, also for a command
// line that cannot be read otherwise.
bool AsksForJson(const std::vector<std::string>& args);
