// POST /api/run carried out: the body checked, the owner's limits applied as mcp applies them,
// the command run in this process on a system of its own (the server's stop as Ctrl+C, its
// time capped, its tool starts through the server's shared gate) and answered with the
// console's --json document and its status.
#pragma once

#include <stop_token>
#include <string>
#include <string_view>

#include "agent/call_system.h"
#include "agent/farm_tool_host.h"
#include "farm/run/farm_system.h"
#include "serve/door.h"
#include "serve/run_request.h"

namespace serve {

// What the server holds for every request.
struct RunService {
    FarmSystem& system;
    agent::StartGate& gate;
    const agent::HostOptions& options;  // the owner's limits, the cap, the install found once
    RunSettings settings;               // --files, the version
};

// The answer, and what the log says of it.
struct RunAnswer {
    RunReply reply;
    std::string command;  // argv[0], GBK
    std::string verdict;  // "ok", or why not, GBK
};

RunAnswer AnswerRun(std::string_view body, RunService& service, std::stop_token stop,
                    agent::StepLog log = {});

// The answer to a request past --max-calls, or to a connection past the most open at once:
// 503, a failure document that says so, with "busy": true.
RunReply BusyReply(int max_calls, const Utf8Of& utf8);
RunReply TooManyConnectionsReply(int most_connections, const Utf8Of& utf8);

// A request refused at the door (DecideDoor's status and reason), one that came after the
// first Ctrl+C, one no HTTP server reads, and a door that is routed but not served yet: the
// failure document with exit code 2 (nothing ran).
RunReply DoorReply(int status, const std::string& reason, const Utf8Of& utf8);
RunReply StoppingReply(const Utf8Of& utf8);
RunReply NotHttpReply(const Utf8Of& utf8);
RunReply NotServedYetReply(const DoorRow& row, const Utf8Of& utf8);

// GET /healthz: that the server runs, and nothing of the farm.
RunReply HealthReply();

}  // namespace serve
