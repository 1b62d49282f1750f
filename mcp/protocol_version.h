// The protocol revisions this server speaks, and the one it answers an initialize with.
#pragma once

#include <string_view>

namespace mcp {

constexpr std::string_view kLatestProtocolVersion = "2025-11-25";
constexpr std::string_view kPreviousProtocolVersion = "2025-06-18";

// The revision that brought the Streamable HTTP transport: a client of it sends the same
// requests over HTTP, and the revisions after it tell a server to assume it when a request
// carries no MCP-Protocol-Version.
constexpr std::string_view kFirstHttpProtocolVersion = "2025-03-26";

// Whether an MCP-Protocol-Version header names a revision this server takes over HTTP.
bool IsHttpProtocolVersion(std::string_view version);

// The revision asked for when this server speaks it; the latest one otherwise (the client then
// decides whether it goes on).
std::string_view NegotiateProtocolVersion(std::string_view requested);

}  // namespace mcp
