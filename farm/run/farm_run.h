// Runs one command of the console companion: checks it, finds the emulator, resolves the VMs
// and does the work, and says what came of it. The caller prints the outcome.
#pragma once

#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "farm/run/clone_job.h"
#include "farm/command/request.h"
#include "farm/health/health_run.h"
#include "farm/run/listing.h"
#include "farm/run/set_summary.h"
#include "farm/run/vm_result.h"

// Told as things happen, for text output: the clone run's log texts, and each VM's result as
// it finishes when a command acts on a set.
struct FarmProgress {
    std::function<void(const std::string& gbk)> log;
    std::function<void(const VmResult& result)> vm_finished;
    // Over a set: how many VMs it came to (read from the listing for all, running, stopped),
    // before the first one's work starts.
    std::function<void(size_t vms)> set_resolved;
    // clone: how many clone steps have ended, after each one's log text, of the clone count.
    std::function<void(int64_t done, int64_t count)> clone_done;
    // health --watch: each round as it is taken.
    std::function<void(const HealthRound& round)> health_round;
    // health --watch --heal: each heal action as it ends.
    std::function<void(const HealEvent& event)> heal_event;
};

struct FailureOutcome {};  // nothing ran (or nothing worth showing): see FarmOutcome::message
struct SingleOutcome {     // one VM, or a command that names none
    VmResult result;
};
struct SetOutcome {
    std::vector<VmResult> results;
    SetSummary summary;
};
struct ListOutcome {
    FarmListing listing;
};

struct FarmOutcome {
    int exit_code = kExitOk;
    // The command did its work or answered its question, and nothing failed: exit code 0, or
    // exit code 1 only because `running` was answered "not running". Every front end reads it.
    bool ok = true;
    // Why the exit code is not 0, in one line; empty when it is, and when the output itself
    // is the answer (`running` of one VM that does not run).
    std::string message;
    std::variant<FailureOutcome, SingleOutcome, SetOutcome, ListOutcome, CloneReport, HealthRound>
        what;
    // How the VMs' Android was asked, when it was: through the adb server, or by adb.exe
    // because no server could be reached nor started on `adb_port`.
    AdbWay adb = AdbWay::kUnused;
    int adb_port = 0;
};

FarmOutcome RunFarm(const FarmRequest& request, FarmSystem& system, const FarmProgress& progress);
