// The farm's tools behind mcp::ToolHost: each call read by the grammar's rows within the
// owner's limits, run by RunFarm on a system of its own (its stop as Ctrl+C, its time capped,
// its tool starts through the server's shared gate), its progress told per VM and its steps
// logged, and answered with the console's document and text.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "agent/call_system.h"
#include "agent/tool_arguments.h"
#include "agent/tool_catalog.h"
#include "farm/command/limits.h"
#include "farm/run/farm_system.h"
#include "mcp/tool_host.h"
#include "text/utf8_of.h"

namespace agent {

struct HostOptions {
    OwnerLimits limits;
    int parallel = kMcpStartsInFlight;    // mcp --parallel: tool starts in flight
    double deadline_s = kMcpCallSeconds;  // mcp --deadline: each whole call
    std::string install_dir;              // found once at the start; empty: each call
    std::string capture_dir;              // screenshots without --files, with '\\' last
    GbkOf gbk_of;
    std::function<std::string(const std::string&)> full_path;
};

// A call's VMs within the owner's --vms: a named VM outside it is refused; all, running and
// stopped mean those within it (read from one listing, on `system`). Nothing when the set
// stands as it is, else the refusal or the listing's failure (with its exit code).
struct SetLimit {
    std::optional<std::string> problem;
    int exit_code = kExitUsage;
};
SetLimit LimitToOwner(FarmRequest& request, const OwnerLimits& limits, FarmSystem& system);

// The server's cap on a call's time: the call's own deadline may only be shorter.
void CapDeadline(FarmRequest& request, double cap_seconds);

class FarmToolHost : public mcp::ToolHost {
public:
    FarmToolHost(FarmSystem& system, HostOptions options);

    nlohmann::ordered_json ListTools() override;
    bool HasTool(const std::string& name) override;
    nlohmann::ordered_json Call(const std::string& name, const nlohmann::json& arguments,
                                mcp::CallContext& context) override;

    // The most tool starts that were in flight at once.
    int PeakStarts() const { return gate_.Peak(); }

private:
    Utf8Of Utf8();

    FarmSystem& system_;
    const HostOptions options_;
    StartGate gate_;
    std::atomic<uint64_t> calls_{0};
};

}  // namespace agent
