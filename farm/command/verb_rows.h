// Every command of the console companion, one row each: its name, what it does to the farm,
// which front ends offer it, the control operation behind it and its help. Its arguments come
// from the operation, its options from the option rows (farm/command/grammar.h joins them).
#pragma once

#include <string_view>
#include <vector>

#include "control/operations.h"
#include "farm/command/front_end.h"

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

// What a command does to the farm, for every front end to read (an agent's tool hints, a
// page's "are you sure").
enum class Effect {
    kReadOnly,     // only asks
    kAdditive,     // starts, creates or sends input; takes nothing away
    kDestructive,  // stops, removes or overwrites
};

// A command's own default for an option (health asks 16 VMs at a time).
struct OptionDefault {
    const char* option;  // the option's name: a test proves that it names a row
    double value;
};

// What an option means for this command when it is not what its row says (mcp's --parallel
// bounds the tool starts across all calls, not the VMs of one command). "{=}" stands for the
// option's default for the command.
struct OptionMeaning {
    const char* option;  // the option's name: a test proves that it names a row
    const char* help;
};

struct VerbRow {
    const char* name;
    VerbKind kind;
    Op op = Op::kListVms;
    VmJob job = VmJob::kOperation;
    Effect effect = Effect::kAdditive;
    bool idempotent = false;   // doing it twice leaves the farm as doing it once
    bool writes_file = false;  // it writes a file on this PC
    // It reaches past the VMs it names: every VM (stopall, sortwin), new VMs (create, copy,
    // import, clone), or any device adb's own words name. A front end limited to some VMs
    // does not offer it.
    bool leaves_set = false;
    unsigned front_ends = kEveryFrontEnd;
    std::vector<OptionDefault> defaults = {};
    std::vector<OptionMeaning> meanings = {};
    // The help: "{=NAME}" stands for the default of the command's option or argument NAME.
    const char* about = "";
};

const std::vector<VerbRow>& AllVerbs();
const VerbRow* FindVerb(std::string_view name);
