// Checks text for well-formed UTF-8: no stray or missing continuation bytes, no overlong forms,
// no surrogates, nothing above U+10FFFF.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace mcp {

// The offset of the first byte that breaks UTF-8; nothing when the text is well formed.
std::optional<std::size_t> FirstBadUtf8Byte(std::string_view text);

}  // namespace mcp
