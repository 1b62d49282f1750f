// What a server serves: the tools, behind ToolHost, and what each running call may do, through
// its CallContext.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "mcp/log_level.h"

namespace mcp {

struct ProgressReport {
    double progress = 0;  // above every value reported before for the same call
    std::optional<double> total;
    std::string message;  // UTF-8; empty for none
};

// Given to one call, valid until the call returns. Safe to use from any thread.
class CallContext {
public:
    virtual ~CallContext() = default;

    // Requested when the client cancels the call or the server ends: the call should return soon.
    virtual std::stop_token StopToken() const = 0;
    bool Stopped() const { return StopToken().stop_requested(); }

    // Sends notifications/progress when the request carried _meta.progressToken, the call is not
    // cancelled and `report.progress` is finite and above the last value sent. Returns whether
    // it was sent.
    virtual bool ReportProgress(const ProgressReport& report) = 0;

    // Sends notifications/message when the client asked for `level` or a lower one with
    // logging/setLevel. `logger` may be empty. Returns whether it was sent.
    virtual bool Log(LogLevel level, const nlohmann::ordered_json& data,
                     std::string_view logger) = 0;
};

// The tools: implemented by the program that serves them. Called from several threads at once.
class ToolHost {
public:
    virtual ~ToolHost() = default;

    // The "tools" array of a tools/list result: one Tool object each (name, inputSchema, ...).
    virtual nlohmann::ordered_json ListTools() = 0;

    virtual bool HasTool(const std::string& name) = 0;

    // Runs one call of a tool HasTool named, with `arguments` an object. May take long, but
    // returns soon once context.Stopped(). Returns a CallToolResult object ({"content": [...],
    // "isError": ...}); a tool's own failure is a result with "isError": true. An exception is
    // answered as an internal error.
    virtual nlohmann::ordered_json Call(const std::string& name, const nlohmann::json& arguments,
                                        CallContext& context) = 0;
};

}  // namespace mcp
