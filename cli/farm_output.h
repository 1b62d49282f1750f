// The console companion's output: what a command came to, as text or as one JSON document,
// and the lines printed while it runs.
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
// finishes. Nothing with --json.
FarmProgress ProgressPrinter(const FarmRequest& request, FarmConsole& console);

// The VMs as an aligned table, one line per VM (GBK: a Chinese character is two bytes and two
// columns wide).
std::string VmTable(const std::vector<VmRecord>& vms);
// One line of a VM's result: index, ok or failed, seconds, and the first line of its output
// (or why it failed).
std::string ResultLine(const VmResult& result);
