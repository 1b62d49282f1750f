// The protocol revisions this server speaks, and the one it answers an initialize with.
#pragma once

#include <string_view>

namespace mcp {

constexpr std::string_view kLatestProtocolVersion = "2025-11-25";
constexpr std::string_view kPreviousProtocolVersion = "2025-06-18";

// The revision asked for when this server speaks it; the latest one otherwise (the client then
// decides whether it goes on).
std::string_view NegotiateProtocolVersion(std::string_view requested);

}  // namespace mcp
