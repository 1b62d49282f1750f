// Turns one received line (or body) into a JSON value, refusing what the server will not take.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string_view>
#include <variant>

#include "mcp/json_rpc.h"

namespace mcp {

// Deepest nesting of arrays and objects taken; the message object itself is level 1.
constexpr std::size_t kDefaultMaxDepth = 64;

// The value, or the error to answer (with a null id): invalid UTF-8 and text that is not JSON
// are parse errors; nesting deeper than `max_depth` is an invalid request, refused before any
// value is built.
std::variant<nlohmann::json, RpcError> ParseMessage(std::string_view text, std::size_t max_depth);

}  // namespace mcp
