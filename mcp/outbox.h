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
    // A notification sent on behalf of the request `request_id` (a call's progress and log):
    // a transport that answers each request on its own stream sends it on that request's.
    virtual void SendFor(const nlohmann::json& request_id, const nlohmann::ordered_json& message) {
        (void)request_id;
        Send(message);
    }
};

// Notes for whoever runs the server (never for the client): what was ignored, what failed.
class Diagnostics {
public:
    virtual ~Diagnostics() = default;
    virtual void Note(std::string_view text) = 0;
};

}  // namespace mcp
