#include "mcp/line_outbox.h"

#include <string>

namespace mcp {

void LineOutbox::Send(const nlohmann::ordered_json& message) {
    // Text that is not UTF-8 (from a tool) goes out with U+FFFD in its place, never half a line.
    std::string line =
        message.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    line += '\n';
    std::lock_guard lock(mutex_);
    if (broken_) return;
    if (!output_.Write(line)) {
        broken_ = true;
        diagnostics_.Note("the output is broken: no more messages reach the client");
    }
}

}  // namespace mcp
