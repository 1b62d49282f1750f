// Where a session's messages go, and where its diagnostics go. Both are called from several
// threads at once; an Outbox sends each message whole, never interleaved with another.
#pragma once

#include <nlohmann/json.hpp>

#include <string_view>

namespace mcp {

class Outbox {
public:
    virtual ~Outbox() = default;
    // One JSON-RPC message for the client.
    virtual void Send(const nlohmann::ordered_json& message) = 0;
};

// Notes for whoever runs the server (never for the client): what was ignored, what failed.
class Diagnostics {
public:
    virtual ~Diagnostics() = default;
    virtual void Note(std::string_view text) = 0;
};

}  // namespace mcp
