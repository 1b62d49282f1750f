// A tool's definition for tools/list, read from its grammar rows: name, description, the JSON
// Schema (2020-12) of its arguments and of its structured result, and the hints of its effect.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>

#include "agent/tool_catalog.h"
#include "text/utf8_of.h"

namespace agent {

// The schema of one parameter's property.
nlohmann::ordered_json PropertySchema(const Parameter& parameter, const Utf8Of& utf8);

// The Tool object: name, description, inputSchema, outputSchema, annotations.
nlohmann::ordered_json ToolDefinition(const Tool& tool, const Utf8Of& utf8);

// What every document a command returns has in common: an object with "ok", and where they
// stand, "error", "results" and "counts".
nlohmann::ordered_json OutputSchema();

}  // namespace agent
