// A tool call's arguments as a request, by the same rows and the same checks, in the same
// order and with the same messages as the console reads its command line. The run's own
// checks follow in RunFarm.
#pragma once

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "agent/tool_catalog.h"

namespace agent {

// UTF-8 to GBK; nothing when a character has no GBK form.
using GbkOf = std::function<std::optional<std::string>(std::string_view utf8)>;

struct ArgumentContext {
    GbkOf gbk_of;
    // A local path made full (the server's current folder for a relative one).
    std::function<std::string(const std::string&)> full_path;
    // captures_to_temp tools: the FILE the capture goes to (with {index}).
    std::string capture_file;
};

struct ReadRequest {
    std::optional<FarmRequest> request;
    std::string refusal;  // GBK, when there is no request
};

ReadRequest ReadToolArguments(const Tool& tool, const nlohmann::json& arguments,
                              const OwnerLimits& limits, const ArgumentContext& context);

// The JSON value as the text the console would have read for it, or why it cannot be one.
// Strings are texts whatever they begin with; numbers are written as a command line writes
// them.
std::optional<std::string> ValueText(const nlohmann::json& value, std::string* text);

// `path` (full) with "." and ".." taken out and '/' read as '\\', when it stays inside
// `folder`; nothing when it leaves it. Letters compare without case, as Windows' do.
std::optional<std::string> PathInside(const std::string& folder, const std::string& path);

}  // namespace agent
