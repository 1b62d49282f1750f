// Runs one parsed command of the console companion against the emulator, prints its outcome
// as text or as one JSON document, and returns the program's exit code.
#pragma once

#include <string>

#include "cli/farm_args.h"
#include "cli/farm_console.h"

int RunFarm(const FarmRequest& request, FarmServices& services);

// A bad command line: the message on standard error (and as JSON when asked); exit code 2.
int ReportUsageError(const std::string& message, bool json, FarmConsole& console);
