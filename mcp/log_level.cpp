#include "mcp/log_level.h"

#include <array>
#include <cstddef>

namespace mcp {
namespace {

constexpr std::array<std::string_view, 8> kNames = {"debug", "info",     "notice", "warning",
                                                    "error", "critical", "alert",  "emergency"};

}  // namespace

std::optional<LogLevel> ParseLogLevel(std::string_view name) {
    for (std::size_t i = 0; i < kNames.size(); ++i)
        if (kNames[i] == name) return static_cast<LogLevel>(i);
    return std::nullopt;
}

std::string_view LogLevelName(LogLevel level) {
    return kNames[static_cast<std::size_t>(level)];
}

}  // namespace mcp
