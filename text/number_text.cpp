#include "text/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace numtext {
namespace {

constexpr size_t kMostWholeDigits = 18;  // every 18-digit number fits an int64_t
constexpr size_t kMostDecimalWholeDigits = 15;
constexpr size_t kMostFractionDigits = 9;

bool AllDigits(std::string_view text) {
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// Takes a leading '-' off `text`; true when there was one.
bool TakeMinus(std::string_view& text) {
    if (text.empty() || text[0] != '-') return false;
    text.remove_prefix(1);
    return true;
}

}  // namespace

std::optional<int64_t> ParseWhole(std::string_view text, int64_t low, int64_t high) {
    const bool negative = TakeMinus(text);
    if (text.empty() || text.size() > kMostWholeDigits || !AllDigits(text)) return std::nullopt;
    int64_t value = 0;
    for (char c : text) value = value * 10 + (c - '0');
    if (negative) value = -value;
    if (value < low || value > high) return std::nullopt;
    return value;
}

std::optional<double> ParseDecimal(std::string_view text, double low, double high) {
    const bool negative = TakeMinus(text);
    const size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if (whole.empty() || whole.size() > kMostDecimalWholeDigits || !AllDigits(whole))
        return std::nullopt;
    if (point != std::string_view::npos &&
        (fraction.empty() || fraction.size() > kMostFractionDigits || !AllDigits(fraction)))
        return std::nullopt;
    // The checked digits, read to the nearest double (as the limits in the code are).
    const std::string_view digits(whole.data(),
                                  whole.size() + (fraction.empty() ? 0 : 1 + fraction.size()));
    double value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (negative) value = -value;
    if (value < low || value > high) return std::nullopt;
    return value;
}

std::string LimitText(double value) {
    char text[40];
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        std::snprintf(text, sizeof text, "%.0f", value);
    } else {
        std::snprintf(text, sizeof text, "%.9g", value);
    }
    return text;
}

}  // namespace numtext
