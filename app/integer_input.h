// The normalisation rule of the integer-only edit box (编辑框_数量), kept apart from the window
// code so that it can be tested natively.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "text/gbk_text.h"

// The text an integer box shows after it loses the focus: the leading decimal number (an
// optional sign, then digits; none gives 0) read as a 64-bit integer, clamped to the 32-bit
// range and written in decimal, with 0 shown as the empty text. So "007" gives "7", "0" and
// "-" give "", and "99999999999" gives "2147483647".
inline std::string NormalisedIntegerText(std::string_view text) {
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    int64_t value = gbk::ToInt64(text);
    if (value < kMin) value = kMin;
    if (value > kMax) value = kMax;
    return value == 0 ? std::string() : gbk::Decimal(value);
}

// Whether a typed character may reach the integer box: control characters (below 32, such as
// Backspace) always do; otherwise only '-' and the digits '0' to '9'.
constexpr bool IsIntegerInputCharacter(unsigned int code) {
    return code < 32 || code == '-' || (code >= '0' && code <= '9');
}
