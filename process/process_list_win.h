// The system's process list: every process with its CPU times, memory counters, handle count
// and create time, from one NtQuerySystemInformation(SystemProcessInformation) call. Task
// managers read the same list; no process is opened. (Under Wine 8, GetProcessTimes on another
// process reads zeros and the process memory counters' PrivateUsage reads 0; this list has the
// right numbers there as on Windows.)
#pragma once

#include <optional>
#include <vector>

#include "process/process_reading.h"

// Nothing when the list cannot be read.
std::optional<std::vector<ProcessReading>> ReadProcessList();
