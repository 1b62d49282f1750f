// An Outbox over a byte output: each message one line of UTF-8 JSON, written whole under one
// lock so lines from several threads never interleave.
#pragma once

#include <atomic>
#include <mutex>

#include "mcp/byte_streams.h"
#include "mcp/outbox.h"

namespace mcp {

class LineOutbox : public Outbox {
public:
    LineOutbox(ByteOutput& output, Diagnostics& diagnostics)
        : output_(output), diagnostics_(diagnostics) {}

    void Send(const nlohmann::ordered_json& message) override;

    // Whether a write failed: nothing more reaches the client.
    bool Broken() const { return broken_; }

private:
    ByteOutput& output_;
    Diagnostics& diagnostics_;
    std::mutex mutex_;
    std::atomic<bool> broken_{false};
};

}  // namespace mcp
