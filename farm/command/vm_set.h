// The VMs a command acts on: "3", "101-150", "3,5,101-110", "all", "running", "stopped".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/vm_record.h"
#include "farm/command/limits.h"

struct VmSet {
    enum class Kind { kIndexes, kAll, kRunning, kStopped };
    Kind kind = Kind::kIndexes;
    std::vector<int32_t> indexes;  // kIndexes: in the order given, each once
    // One plain index ("3"): the command keeps its one-VM output.
    bool single = false;

    // all, running and stopped come from a listing.
    bool NeedsListing() const { return kind != Kind::kIndexes; }
};

// The set, or nothing with *error saying what is wrong (an empty set, a reversed range, a
// malformed or too large one).
std::optional<VmSet> ParseVmSet(std::string_view text, std::string* error);

// The indexes the set names, given the farm's listing (for all, running, stopped), in listing
// order for those and in the given order for the rest.
std::vector<int32_t> ResolveVmSet(const VmSet& set, const std::vector<VmRecord>& listed);
