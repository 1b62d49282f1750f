// What the agent tests share: a call's context that records what it was told, the host's
// options over the fake system, and one valid value for each argument a tool requires.
#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "agent/farm_tool_host.h"
#include "agent/tool_arguments.h"
#include "agent/tool_catalog.h"
#include "mcp/tool_host.h"

namespace agent_test {

class FakeCallContext : public mcp::CallContext {
public:
    std::stop_source stop;
    std::stop_token StopToken() const override { return stop.get_token(); }
    bool ReportProgress(const mcp::ProgressReport& report) override {
        std::lock_guard lock(mutex_);
        progress.push_back(report);
        return true;
    }
    bool Log(mcp::LogLevel level, const nlohmann::ordered_json& data, std::string_view) override {
        std::lock_guard lock(mutex_);
        logs.emplace_back(level, data.is_string() ? data.get<std::string>() : data.dump());
        return true;
    }
    std::vector<mcp::ProgressReport> progress;
    std::vector<std::pair<mcp::LogLevel, std::string>> logs;

private:
    std::mutex mutex_;
};

// The tests' texts are ASCII: UTF-8 and GBK are the same bytes; a character past ASCII stands
// for one with no GBK form.
inline std::optional<std::string> AsciiOnly(std::string_view utf8) {
    for (char c : utf8)
        if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
    return std::string(utf8);
}

inline agent::ArgumentContext Context() {
    return {AsciiOnly, [](const std::string& path) { return "C:\\cwd\\" + path; },
            "C:\\temp\\shot-{index}.png"};
}

// One value a tool accepts for the argument, as JSON and as the console's word.
struct Sample {
    nlohmann::json json;
    std::vector<std::string> words;
};

inline Sample SampleOf(const Parameter& parameter) {
    switch (parameter.kind) {
        case ParameterKind::kVmSet:
        case ParameterKind::kVmIndex:
        case ParameterKind::kWhole:
        case ParameterKind::kDecimal:
            return {1, {"1"}};
        case ParameterKind::kWords:
            return {nlohmann::json::array({"devices"}), {"devices"}};
        case ParameterKind::kPath:
            return {"C:\\farm\\f.ova", {"C:\\farm\\f.ova"}};
        case ParameterKind::kFlag:
            return {true, {}};
        default:
            break;
    }
    if (parameter.slot && (parameter.slot->kind == SlotKind::kPackage ||
                           parameter.slot->kind == SlotKind::kComponent))
        return {"com.example.app", {"com.example.app"}};
    return {"hi", {"hi"}};
}

// The tool's required arguments and options (and an argument an option stands in for), each
// with a value it accepts; not `except`.
inline void AddRequired(const agent::Tool& tool, nlohmann::json& arguments,
                        std::vector<std::string>& words, const Parameter* except = nullptr) {
    for (const Parameter& parameter : tool.parameters) {
        const bool stood_in = parameter.slot && StandIn(*tool.verb, *parameter.slot);
        if ((!parameter.required && !stood_in) || (except && except->name == parameter.name))
            continue;
        const Sample sample = SampleOf(parameter);
        arguments[agent::PropertyName(parameter)] = sample.json;
        if (parameter.is_option) words.push_back(parameter.name);
        words.insert(words.end(), sample.words.begin(), sample.words.end());
    }
}

inline agent::OwnerLimits EveryTool() {
    agent::OwnerLimits limits;
    limits.files = "C:\\farm";
    return limits;
}

}  // namespace agent_test
