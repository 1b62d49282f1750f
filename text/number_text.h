// Numbers as a command line gives them: plain decimal digits, with an optional minus and, for
// decimal numbers, an optional fraction. Nothing else is a number here: no blanks, no plus
// sign, no exponent, no hexadecimal, no full-width digits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace numtext {

// "-12", "0", "999999999999": an optional '-' and at most 18 digits, within [low, high].
std::optional<int64_t> ParseWhole(std::string_view text, int64_t low, int64_t high);

// "2", "0.5", "-12.25": an optional '-', at most 15 whole digits and, after a point, at most
// 9 fraction digits, within [low, high].
std::optional<double> ParseDecimal(std::string_view text, double low, double high);

// A limit as messages show it: whole numbers without a fraction ("2147483647"), others as
// short as they read exactly ("0.1").
std::string LimitText(double value);

}  // namespace numtext
