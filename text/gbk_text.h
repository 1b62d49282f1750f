// Byte-counted text helpers for GBK (code page 936) strings.
//
// Every text of the program is a std::string of GBK bytes. A byte of 0x80 or above opens a
// two-byte character together with the byte after it, so no search, split or trim here ever
// starts or cuts inside such a character (a trail byte may equal '\\', ',', '\r' or the first
// byte of a sought text). Positions are 1-based byte positions; "not found" is -1.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gbk {

// True when the byte opens a two-byte character, as the program's searches and splits read
// its texts: every byte of 0x80 or above is taken with the byte after it, so that no match
// starts inside a Chinese character.
constexpr bool IsLeadByte(unsigned char c) {
    return c >= 0x80;
}

// True when Windows' code page 936 conversion takes the byte as the lead byte of a pair
// (0x81 to 0xFE; 0x80 and 0xFF stand alone there): what a command line's length and quoting
// follow, since Windows converts the line to UTF-16 by that rule.
constexpr bool IsCodePage936LeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

// Width in bytes of the character that starts at byte offset `i` (1 or 2; 1 for a lead byte
// that is the last byte of the text).
inline size_t CharWidth(std::string_view text, size_t i) {
    return (IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
}

// Forward search. `start` is 1-based; values below 1 mean 1. Returns the 1-based position of
// the first match that begins on a character boundary at or after `start`, or -1. An empty
// `sought` is never found. `ignore_case` folds ASCII letters only.
int Find(std::string_view text, std::string_view sought, int start = 1, bool ignore_case = false);

// Last match on a character boundary (whole text scanned), or -1.
int FindLast(std::string_view text, std::string_view sought);

inline bool Contains(std::string_view text, std::string_view sought) {
    return Find(text, sought) != -1;
}

// Replaces every non-overlapping occurrence of `sought`, scanning left to right.
std::string ReplaceAll(std::string_view text, std::string_view sought, std::string_view with);

// The part of `text` in front of the first `sought` at or after `start`; empty when absent.
std::string TextBefore(std::string_view text, std::string_view sought, int start = 1,
                       bool ignore_case = false);

// Text up to and including the last backslash, or empty when there is none.
std::string FolderOf(std::string_view path);

// The text between single quotes, as messages name what they were given: 'x'.
std::string Quoted(std::string_view text);

// The text up to its first line end (LF, or CR LF), without it.
std::string FirstLine(std::string_view text);

// Removes leading and trailing ASCII spaces (0x20) and full-width spaces (0xA1 0xA1).
std::string Trim(std::string_view text);

// Cuts at every separator that starts a character. Text before the first separator and
// between two separators is a piece even when empty; the piece after the last separator is
// kept only when it is not empty. An empty text has no pieces.
std::vector<std::string> Split(std::string_view text, std::string_view separator);

// Lines cut at CR LF; a lone CR or LF does not cut.
inline std::vector<std::string> SplitLines(std::string_view text) {
    return Split(text, "\r\n");
}
inline std::vector<std::string> SplitFields(std::string_view line) {
    return Split(line, ",");
}

// Full-width forms (0xA3 0xA1..0xFE) become their ASCII characters and the full-width space
// (0xA1 0xA1) becomes a blank; every other character is kept.
std::string FullWidthToAscii(std::string_view text);

// Full-width to ASCII, then leading blanks, an optional sign and decimal digits. No digits
// gives 0. Values beyond the 64-bit range saturate.
int64_t ToInt64(std::string_view text);

// As ToInt64, saturated to the 32-bit range.
int32_t ToInt(std::string_view text);

// Decimal text of an integer with a '-' sign when negative.
std::string Decimal(int64_t value);

}  // namespace gbk
