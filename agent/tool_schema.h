// A tool's definition for tools/list, read from its grammar rows: name, description, the JSON
// Schema (2020-12) of its arguments and of its structured result, and the hints of its effect.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>

#include "agent/tool_catalog.h"
#include "text/utf8_of.h"

namespace agent {

// screenshot: the most bytes the whole result may take as sent (base64 and text included).
inline constexpr int64_t kDefaultImageBudget = 800000;
inline constexpr int64_t kLeastImageBudget = 1000;
inline constexpr int64_t kMostImageBudget = 50 * 1000 * 1000;
inline constexpr const char* kImageBudgetProperty = "max_bytes";

// The schema of one parameter's property.
nlohmann::ordered_json PropertySchema(const Parameter& parameter, const Utf8Of& utf8);

// The Tool object: name, description, inputSchema, outputSchema, annotations.
nlohmann::ordered_json ToolDefinition(const Tool& tool, const Utf8Of& utf8);

// What every document a command returns has in common: an object with "ok", and where they
// stand, "error", "results" and "counts".
nlohmann::ordered_json OutputSchema();

}  // namespace agent
