// One VM as the emulator's list command reports it.
#pragma once

#include <cstdint>
#include <string>

#include "text/checked_array.h"

struct VmRecord {
    int32_t index = 0;         // VM index: 0 is "MEmu", n is "MEmu_n"
    std::string title;         // as listed, untrimmed
    int32_t window = 0;        // the VM's window handle as listed; 0 when it has none
    int32_t inner_window = 0;  // window walk from `window` when window >= 1, else 0
    bool started = false;      // false only when the listed flag is exactly "0"
    int32_t process_id = 0;    // as listed
    int32_t headless_pid = 0;  // its "MEmuHeadless.exe" process when process_id != 0, else 0
    int32_t reserved1 = 0;     // declared by the record layout, never filled
    std::string reserved2;
    int32_t reserved3 = 0;
};

using VmList = CheckedArray<VmRecord>;
