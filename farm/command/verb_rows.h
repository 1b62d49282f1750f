// Every command of the console companion, one row each: its name, what it does and the control
// operation behind it; its arguments come from the operation, its options from the option
// table. The argument parser, the help, the checks of the texts and the run all read these
// rows.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "control/operations.h"

struct FarmRequest;

enum class VerbKind {
    kList,    // the VMs
    kClone,   // the one-key job
    kPerVm,   // SET and the operation's arguments: the operation once per VM
    kOneVm,   // one INDEX and the operation's arguments
    kWhole,   // no VM: the operation once
    kHealth,  // the VMs' health: an optional SET, all by default
};

// What one VM's work is, for kPerVm verbs.
enum class VmJob {
    kOperation,   // the row's operation (start and reboot may also wait for the boot)
    kRunning,     // isvmrunning, read as an answer
    kScreenshot,  // capture on the device, pull, remove; the local file must exist
};

struct VerbRow {
    const char* name;
    VerbKind kind;
    Op op;
    VmJob job;
    const char* about;
};

const std::vector<VerbRow>& AllVerbs();
const VerbRow* FindVerb(std::string_view name);

// The arguments after the command word, in order: for kPerVm the first is the SET (kind
// kIndex), for kOneVm the INDEX; then the operation's own.
std::vector<Slot> VerbArguments(const VerbRow& row);

// True when the command can go without the argument: health's SET (then all VMs), an
// argument with a default (create's TYPE), one an option stands in for (install's APK).
bool ArgumentIsOptional(const VerbRow& verb, const Slot& slot);

// A new request for the command, with the command's own defaults.
FarmRequest NewRequest(const VerbRow& verb);

// The operation the request runs: install with -p installs by package name.
Op OperationOf(const FarmRequest& request);

// The slots the request's texts fill, in the order of FarmRequest::texts.
std::vector<Slot> TextSlots(const FarmRequest& request);
