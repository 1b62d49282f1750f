// The console companion's output: writes to the console what the report folder made of a
// command, and the lines printed while it runs.
#pragma once

#include <string>

#include "cli/farm_console.h"
#include "farm/run/farm_run.h"

// Prints the outcome of a command (text, or one JSON document with --json).
void PrintOutcome(const FarmRequest& request, const FarmOutcome& outcome, FarmConsole& console);

// Prints the help or version text; with --json as {"ok":true,"help":...} or
// {"ok":true,"version":...}.
void PrintInformation(const std::string& key, const std::string& text, bool json,
                      FarmConsole& console);

// Prints a failure that ends the program before any command ran (a bad command line): the
// message on standard error, and the one JSON document with --json.
void PrintFailure(int exit_code, const std::string& message, bool json, FarmConsole& console);

// What text mode prints while a command runs: the clone job's log, and one line per VM as it
// finishes. Nothing with --json but health --watch's rounds and heal actions, one document a
// line.
FarmProgress ProgressPrinter(const FarmRequest& request, FarmConsole& console);
