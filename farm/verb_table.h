// Every command of the console companion, one row each: its name, what it takes, what it does
// and the control operation behind it. The argument parser, the help, the checks of the texts
// and the run all read these rows.
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

// Options a command takes besides the global ones.
enum VerbOption : uint32_t {
    kOptWait = 1u << 0,
    kOptTimeout = 1u << 1,
    kOptBoot = 1u << 2,
    kOptParallel = 1u << 3,  // with --stagger
    kOptMaster = 1u << 4,
    kOptCount = 1u << 5,
    kOptFirst = 1u << 6,
    kOptConsole = 1u << 7,
    kOptDryRun = 1u << 8,
    kOptRandomize = 1u << 9,
    kOptPackage = 1u << 10,  // install SET -p PACKAGE
    kOptHealth = 1u << 11,   // --sample, --watch, --prom, --max-cpu, --max-private-mb
};

struct VerbRow {
    const char* name;
    VerbKind kind;
    Op op;
    VmJob job;
    uint32_t options;
    const char* usage;  // what follows the command word
    const char* about;
};

const std::vector<VerbRow>& AllVerbs();
const VerbRow* FindVerb(std::string_view name);

// The arguments after the command word, in order: for kPerVm the first is the SET (kind
// kIndex), for kOneVm the INDEX; then the operation's own.
std::vector<Slot> VerbArguments(const VerbRow& row);

// The operation the request runs: install with -p installs by package name.
Op OperationOf(const FarmRequest& request);

// The slots the request's texts fill, in the order of FarmRequest::texts.
std::vector<Slot> TextSlots(const FarmRequest& request);
