// Works through a set of VMs with a small pool of threads: at most `parallel` VMs at once, each
// VM's commands in order on one worker, at least `stagger` seconds between two VMs' starts, and
// nothing new started once the user pressed Ctrl+C. A VM whose tool hangs holds only its own
// worker (and, with a deadline, only until its deadline passes).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "farm/command/limits.h"
#include "farm/run/farm_system.h"
#include "farm/run/vm_result.h"

struct ScheduleOptions {
    int parallel = 1;    // 1 to kMostParallel
    double stagger = 0;  // seconds between two VMs' starts
};

// The work at one position of the list; runs on a worker thread, given when it was handed out
// (on the system's clock).
using PositionWork = std::function<void(size_t position, double started_at)>;

// Runs `work` for every position from 0 to count - 1, as the VMs are worked through, and says
// which positions were started (false: Ctrl+C came first).
std::vector<bool> RunPositions(FarmSystem& system, size_t count, const ScheduleOptions& options,
                               const PositionWork& work);

// The work of one VM; runs on a worker thread.
using VmWork = std::function<VmResult(int32_t index)>;
// Told of each VM's result as it finishes, one call at a time.
using VmDone = std::function<void(const VmResult& result)>;

// Returns one result per index, in the order of `indexes`. VMs not started because of Ctrl+C
// get a result saying so.
std::vector<VmResult> RunOverVms(FarmSystem& system, const std::vector<int32_t>& indexes,
                                 const ScheduleOptions& options, const VmWork& work,
                                 const VmDone& done);
