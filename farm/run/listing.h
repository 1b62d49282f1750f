// The farm's listing as the companion reads it: every VM with its window's inner window and
// its headless process, and every line it could not read.
#pragma once

#include <string>
#include <vector>

#include "control/vm_record.h"
#include "farm/run/tool_step.h"

struct FarmListing {
    StepResult step;  // the list command
    std::vector<VmRecord> vms;
    std::vector<std::string> unreadable;
    // The command succeeded and every line was read.
    bool ok() const { return step.ok && unreadable.empty(); }
    // Why not; empty when ok.
    std::string Failure() const;
    // The exit code a listing gives: 0 when ok; the deadline's when it passed while the list
    // command ran; else that of a failure.
    int ExitCode() const;
};

// How much of each VM a listing finds out: the list command's reply alone (index, title,
// window, state, process), or also the window's inner window and the headless process.
enum class ListDetail { kWhole, kReplyOnly };

FarmListing ListFarm(FarmSystem& system, const ToolFolders& folders, const Deadline& deadline,
                     ListDetail detail = ListDetail::kWhole);
