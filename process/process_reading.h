// One process as the system's process list shows it: what task managers read, without opening
// the process.
#pragma once

#include <cstdint>
#include <string>

struct ProcessReading {
    uint32_t pid = 0;
    std::string exe_name;        // file name only, GBK
    uint64_t cpu_time = 0;       // user plus kernel time, in 100 ns units
    int64_t create_time = 0;     // FILETIME: 100 ns units since 1601 (UTC)
    uint64_t working_set = 0;    // bytes
    uint64_t private_bytes = 0;  // the commit charge (PagefileUsage), bytes
    uint64_t peak_private_bytes = 0;
    uint32_t handles = 0;
};
