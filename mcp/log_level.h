// The severities of notifications/message, lowest first (the syslog levels of RFC 5424).
#pragma once

#include <optional>
#include <string_view>

namespace mcp {

enum class LogLevel { kDebug, kInfo, kNotice, kWarning, kError, kCritical, kAlert, kEmergency };

// The level a logging/setLevel request names ("debug" ... "emergency"); nothing for any other text.
std::optional<LogLevel> ParseLogLevel(std::string_view name);

std::string_view LogLevelName(LogLevel level);

}  // namespace mcp
