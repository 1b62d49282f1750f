// The farm's tools as an agent sees them: one per command the grammar offers to MCP, with the
// parameters a call may give, within the limits the owner set on the command line. Every
// other part of agent/ reads the tools from here.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "farm/command/grammar.h"

namespace agent {

// The owner's choices for every call of a server: never widened by a call.
struct OwnerLimits {
    std::optional<VmSet> vms;                    // --vms SET: every call acts within it
    std::string vms_text;                        // the SET as given, for messages
    bool read_only = false;                      // --read-only
    std::optional<std::set<std::string>> tools;  // --tools NAME,...
    // --files DIR: the folder every file a call names must be inside, full, without a
    // backslash at its end. Without it no call names a file that is written on this PC.
    std::optional<std::string> files;
};

struct Tool {
    const VerbRow* verb = nullptr;
    // What a call may give, in order: the command's arguments, its options, then the global
    // options the grammar offers to MCP (--deadline).
    std::vector<Parameter> parameters;
    // screenshot without --files: captured into a file of the server's own, and answered
    // with the images only.
    bool captures_to_temp = false;
};

// The property name of a parameter: the console's name in snake_case ("--boot-timeout" is
// "boot_timeout", SET is "set", FILE.ova is "file", install's -p PACKAGE is "package").
std::string PropertyName(const Parameter& parameter);

// True for a parameter that names a file on this PC.
bool NamesLocalFile(const Parameter& parameter);
// True for a file parameter that the command writes (screenshot's and export's FILE,
// health's --prom).
bool WritesLocalFile(const VerbRow& verb, const Parameter& parameter);

// Why the owner's limits hold the command back from every call (--read-only, --tools, --vms
// for a command that reaches past the VMs it names); nothing when they leave it.
std::optional<std::string> WhyHeldBack(const OwnerLimits& limits, const VerbRow& verb);

// The tools the owner's limits leave, in the grammar's order.
std::vector<Tool> OfferedTools(const OwnerLimits& limits);
std::optional<Tool> FindTool(const OwnerLimits& limits, std::string_view name);

}  // namespace agent
