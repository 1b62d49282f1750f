// The mcp command's request as the host's options: its bounds and the owner's limits, checked
// before the server starts (a --tools name that is no tool is a usage error).
#pragma once

#include <optional>
#include <string>

#include "agent/farm_tool_host.h"
#include "farm/command/request.h"

namespace agent {

// The options, or nothing with *problem saying why (exit code 2). `files_full`: the --files
// folder made full, without a backslash at its end.
std::optional<HostOptions> ServeOptions(const FarmRequest& request, std::string* problem);

// A set as the console writes it: "all", "running", "stopped", or "3,5,101".
std::string VmSetText(const VmSet& set);

}  // namespace agent
