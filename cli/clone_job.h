// The window's one-key job from the command line: optionally the manager console write, then
// the snapshot of the master VM and the linked clones, each step printed as it ends.
#pragma once

#include "cli/farm_args.h"
#include "cli/farm_console.h"

// Expects services.control to hold the emulator's folder. Returns the exit code.
int RunCloneJob(const FarmRequest& request, FarmServices& services);
