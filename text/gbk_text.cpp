#include "text/gbk_text.h"

#include <limits>

namespace gbk {
namespace {

unsigned char FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool MatchesAt(std::string_view text, size_t i, std::string_view sought, bool ignore_case) {
    if (text.size() - i < sought.size()) return false;
    for (size_t k = 0; k < sought.size(); ++k) {
        auto a = static_cast<unsigned char>(text[i + k]);
        auto b = static_cast<unsigned char>(sought[k]);
        if (ignore_case ? FoldAscii(a) != FoldAscii(b) : a != b) return false;
    }
    return true;
}

bool IsBlank(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

int Find(std::string_view text, std::string_view sought, int start, bool ignore_case) {
    if (sought.empty()) return -1;
    size_t i = start < 1 ? 0 : static_cast<size_t>(start) - 1;
    while (i < text.size()) {
        if (MatchesAt(text, i, sought, ignore_case)) return static_cast<int>(i + 1);
        i += CharWidth(text, i);
    }
    return -1;
}

int FindLast(std::string_view text, std::string_view sought) {
    if (sought.empty()) return -1;
    int last = -1;
    for (size_t i = 0; i < text.size(); i += CharWidth(text, i)) {
        if (MatchesAt(text, i, sought, false)) last = static_cast<int>(i + 1);
    }
    return last;
}

std::string ReplaceAll(std::string_view text, std::string_view sought, std::string_view with) {
    if (sought.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (MatchesAt(text, i, sought, false)) {
            out.append(with);
            i += sought.size();
        } else {
            size_t w = CharWidth(text, i);
            out.append(text.substr(i, w));
            i += w;
        }
    }
    return out;
}

std::string TextBefore(std::string_view text, std::string_view sought, int start,
                       bool ignore_case) {
    int pos = Find(text, sought, start, ignore_case);
    if (pos == -1) return {};
    return std::string(text.substr(0, static_cast<size_t>(pos - 1)));
}

std::string FolderOf(std::string_view path) {
    int pos = FindLast(path, "\\");
    if (pos == -1) return {};
    return std::string(path.substr(0, static_cast<size_t>(pos)));
}

std::string Quoted(std::string_view text) {
    std::string quoted(1, '\'');
    quoted.append(text);
    quoted += '\'';
    return quoted;
}

std::string FirstLine(std::string_view text) {
    std::string_view line = text.substr(0, text.find('\n'));  // LF never ends a character
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return std::string(line);
}

std::string Trim(std::string_view text) {
    // Walk characters forward so a trailing 0xA1 0xA1 is only taken when it is a whole character.
    size_t begin = 0;
    while (begin < text.size()) {
        if (text[begin] == ' ') {
            begin += 1;
        } else if (MatchesAt(text, begin, "\xA1\xA1", false)) {
            begin += 2;
        } else {
            break;
        }
    }
    size_t end = begin;  // one past the last character that is not a space
    for (size_t i = begin; i < text.size();) {
        size_t w = CharWidth(text, i);
        bool space =
            (w == 1 && text[i] == ' ') || (w == 2 && MatchesAt(text, i, "\xA1\xA1", false));
        i += w;
        if (!space) end = i;
    }
    return std::string(text.substr(begin, end - begin));
}

std::vector<std::string> Split(std::string_view text, std::string_view separator) {
    std::vector<std::string> pieces;
    if (text.empty() || separator.empty()) {
        if (!text.empty()) pieces.emplace_back(text);
        return pieces;
    }
    size_t piece_start = 0;
    size_t i = 0;
    while (i < text.size()) {
        if (MatchesAt(text, i, separator, false)) {
            pieces.emplace_back(text.substr(piece_start, i - piece_start));
            i += separator.size();
            piece_start = i;
        } else {
            i += CharWidth(text, i);
        }
    }
    if (piece_start < text.size()) pieces.emplace_back(text.substr(piece_start));
    return pieces;
}

std::string FullWidthToAscii(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t w = CharWidth(text, i);
        auto lead = static_cast<unsigned char>(text[i]);
        auto trail = w == 2 ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (w == 2 && lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
            out.push_back(static_cast<char>(trail - 0x80));
        } else if (w == 2 && lead == 0xA1 && trail == 0xA1) {
            out.push_back(' ');
        } else {
            out.append(text.substr(i, w));
        }
        i += w;
    }
    return out;
}

int64_t ToInt64(std::string_view text) {
    std::string ascii = FullWidthToAscii(text);
    size_t i = 0;
    while (i < ascii.size() && IsBlank(static_cast<unsigned char>(ascii[i]))) ++i;
    bool negative = false;
    if (i < ascii.size() && (ascii[i] == '+' || ascii[i] == '-')) {
        negative = ascii[i] == '-';
        ++i;
    }
    // Accumulate towards the sign so that INT64_MIN itself is representable.
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    int64_t value = 0;
    for (; i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9'; ++i) {
        int digit = ascii[i] - '0';
        if (negative) {
            if (value < (kMin + digit) / 10) return kMin;
            value = value * 10 - digit;
        } else {
            if (value > (kMax - digit) / 10) return kMax;
            value = value * 10 + digit;
        }
    }
    return value;
}

int32_t ToInt(std::string_view text) {
    int64_t v = ToInt64(text);
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

std::string Decimal(int64_t value) {
    return std::to_string(value);
}

}  // namespace gbk
