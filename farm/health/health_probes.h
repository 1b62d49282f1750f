// What the health check reads from the system: the process list, a window's answer, the time
// and the number of cores. Small, so the Win32 calls sit apart (health_probes_win) and tests
// give readings of their own.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "farm/health/health.h"
#include "process/process_reading.h"

class HealthProbes {
public:
    virtual ~HealthProbes() = default;
    // Every process with its counters; nothing when the list cannot be read.
    virtual std::optional<std::vector<ProcessReading>> ProcessList() = 0;
    // Whether the window takes a message within 2 s (a hung one is reported at once). Safe
    // from any thread.
    virtual WindowAnswer AskWindow(int32_t window) = 0;
    // The system time as a FILETIME (100 ns units since 1601, UTC).
    virtual int64_t SystemTime() = 0;
    virtual int Cores() = 0;
};
