// Fuzzes the GBK text helpers against an independent model of the character walk.
//
// Input: an options byte (bit 0: ignore case; bits 1-7: start position + 2, so -2 to 125), then
// up to three texts separated by zero bytes: the text, a sought text, a replacement.

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "text/gbk_text.h"

namespace {

const char kFullWidthSpace[] = "\xA1\xA1";

size_t WidthAt(std::string_view text, size_t i) {
    return (static_cast<unsigned char>(text[i]) >= 0x80 && i + 1 < text.size()) ? 2 : 1;
}

void CheckSearches(const std::string& text, const std::string& sought, int start,
                   bool ignore_case) {
    const int found = gbk::Find(text, sought, start, ignore_case);
    FUZZ_REQUIRE(found == fuzz::ModelFind(text, sought, start, ignore_case), text, sought);
    FUZZ_REQUIRE(gbk::Find(text, sought) == fuzz::ModelFind(text, sought), text, sought);
    FUZZ_REQUIRE(gbk::Contains(text, sought) == (fuzz::ModelFind(text, sought) != -1), text,
                 sought);

    const int last = gbk::FindLast(text, sought);
    FUZZ_REQUIRE(last == fuzz::ModelFindLast(text, sought), text, sought);
    // From the start of the text both searches see the same matches.
    FUZZ_REQUIRE((last == -1) == (gbk::Find(text, sought) == -1), text, sought);
    FUZZ_REQUIRE(last == -1 || gbk::Find(text, sought) <= last, text, sought);

    const std::string before = gbk::TextBefore(text, sought, start, ignore_case);
    const std::string expected_before =
        found == -1 ? std::string() : text.substr(0, static_cast<size_t>(found - 1));
    FUZZ_REQUIRE(before == expected_before, text, sought, before);
}

// A piece cut out of the text at a character start must be found there or earlier.
void CheckFindsPieceOfText(const std::string& text, uint8_t options) {
    if (text.empty()) return;
    const size_t at = options % text.size();
    const std::string piece = text.substr(at, 1 + (options >> 4));
    if (!fuzz::CharacterStarts(text)[at]) return;
    const int found = gbk::Find(text, piece);
    FUZZ_REQUIRE(found != -1 && found <= static_cast<int>(at) + 1, text, piece);
    FUZZ_REQUIRE(gbk::FindLast(text, piece) >= static_cast<int>(at) + 1, text, piece);
}

// Split's contract, checked by walking the text: every piece is whole characters with no
// separator at any of its character starts, each cut is a separator at a character start, and
// only an empty piece after the last separator is dropped. Returns whether one was dropped.
bool CheckSplit(const std::string& text, const std::string& separator,
                const std::vector<std::string>& pieces) {
    if (text.empty()) {
        FUZZ_REQUIRE(pieces.empty(), text, separator);
        return false;
    }
    if (separator.empty()) {
        FUZZ_REQUIRE(pieces.size() == 1 && pieces[0] == text, text);
        return false;
    }
    FUZZ_REQUIRE(!pieces.empty(), text, separator);
    size_t pos = 0;
    for (size_t k = 0; k < pieces.size(); ++k) {
        const std::string& piece = pieces[k];
        FUZZ_REQUIRE(text.compare(pos, piece.size(), piece) == 0, text, separator, piece);
        size_t j = pos;
        while (j < pos + piece.size()) {
            FUZZ_REQUIRE(!fuzz::BytesMatch(text, j, separator), text, separator, piece);
            j += WidthAt(text, j);
        }
        FUZZ_REQUIRE(j == pos + piece.size(), text, separator, piece);  // ends on a character
        const bool last = k + 1 == pieces.size();
        if (last && j == text.size()) {
            FUZZ_REQUIRE(!piece.empty(), text, separator);
            return false;
        }
        FUZZ_REQUIRE(fuzz::BytesMatch(text, j, separator), text, separator, piece);
        pos = j + separator.size();
    }
    // The text ended in a separator: the empty piece after it was dropped.
    FUZZ_REQUIRE(pos == text.size(), text, separator);
    return true;
}

void CheckSplitAndReplace(const std::string& text, const std::string& sought,
                          const std::string& with) {
    CheckSplit(text, "\r\n", gbk::SplitLines(text));
    CheckSplit(text, ",", gbk::SplitFields(text));
    const std::vector<std::string> pieces = gbk::Split(text, sought);
    const bool dropped_trailing = CheckSplit(text, sought, pieces);

    // Replacing cuts at the same places as splitting and puts `with` in each cut.
    const std::string replaced = gbk::ReplaceAll(text, sought, with);
    if (sought.empty()) {
        FUZZ_REQUIRE(replaced == text, text, replaced);
        return;
    }
    std::string expected;
    for (size_t k = 0; k < pieces.size(); ++k) {
        if (k > 0) expected += with;
        expected += pieces[k];
    }
    if (dropped_trailing) expected += with;
    FUZZ_REQUIRE(replaced == expected, text, sought, with, replaced);
    FUZZ_REQUIRE(gbk::ReplaceAll(text, sought, sought) == text, text, sought);
}

void CheckFolderOf(const std::string& path) {
    const int last = fuzz::ModelFindLast(path, "\\");
    const std::string expected = last == -1 ? std::string() : path.substr(0, last);
    FUZZ_REQUIRE(gbk::FolderOf(path) == expected, path);
}

bool IsSpaceCharacter(std::string_view text, size_t i) {
    return text[i] == ' ' || (WidthAt(text, i) == 2 && fuzz::BytesMatch(text, i, kFullWidthSpace));
}

void CheckTrim(const std::string& text) {
    const std::string trimmed = gbk::Trim(text);
    // Leading space characters from the start of the text, then the last character that is
    // not a space ends the result.
    size_t begin = 0;
    while (begin < text.size() && IsSpaceCharacter(text, begin)) begin += WidthAt(text, begin);
    size_t end = begin;
    for (size_t i = begin; i < text.size(); i += WidthAt(text, i)) {
        if (!IsSpaceCharacter(text, i)) end = i + WidthAt(text, i);
    }
    FUZZ_REQUIRE(trimmed == text.substr(begin, end - begin), text, trimmed);
    FUZZ_REQUIRE(gbk::Trim(trimmed) == trimmed, text, trimmed);
}

void CheckFullWidthToAscii(const std::string& text) {
    const std::string ascii = gbk::FullWidthToAscii(text);
    size_t converted = 0;
    for (size_t i = 0; i < text.size(); i += WidthAt(text, i)) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const auto trail = WidthAt(text, i) == 2 ? static_cast<unsigned char>(text[i + 1]) : 0;
        if ((lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) || (lead == 0xA1 && trail == 0xA1))
            ++converted;
    }
    FUZZ_REQUIRE(ascii.size() == text.size() - converted, text, ascii);
    FUZZ_REQUIRE(gbk::FullWidthToAscii(ascii) == ascii, text, ascii);
}

int64_t ModelToInt64(const std::string& text) {
    const std::string ascii = gbk::FullWidthToAscii(text);
    size_t i = 0;
    while (i < ascii.size() && (ascii[i] == ' ' || (ascii[i] >= '\t' && ascii[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < ascii.size() && (ascii[i] == '+' || ascii[i] == '-')) negative = ascii[i++] == '-';
    constexpr __int128 kCap = static_cast<__int128>(1) << 64;
    __int128 magnitude = 0;
    for (; i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (ascii[i] - '0');
        if (magnitude > kCap) magnitude = kCap;
    }
    const __int128 value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<int64_t>::max()) return std::numeric_limits<int64_t>::max();
    if (value < std::numeric_limits<int64_t>::min()) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

std::string FullWidthDigits(const std::string& ascii) {
    std::string wide;
    for (char c : ascii) {
        wide += '\xA3';
        wide += static_cast<char>(static_cast<unsigned char>(c) + 0x80);
    }
    return wide;
}

void CheckIntegers(const std::string& text) {
    const int64_t value = gbk::ToInt64(text);
    FUZZ_REQUIRE(value == ModelToInt64(text), text, gbk::Decimal(value));
    int64_t clamped = value;
    if (clamped > std::numeric_limits<int32_t>::max())
        clamped = std::numeric_limits<int32_t>::max();
    if (clamped < std::numeric_limits<int32_t>::min())
        clamped = std::numeric_limits<int32_t>::min();
    FUZZ_REQUIRE(gbk::ToInt(text) == clamped, text);

    // Any 64-bit value survives writing and reading back, in ASCII and in full-width digits.
    uint64_t bits = 0;
    for (size_t i = 0; i < text.size() && i < 8; ++i)
        bits |= static_cast<uint64_t>(static_cast<unsigned char>(text[i])) << (8 * i);
    const auto number = static_cast<int64_t>(bits);
    const std::string decimal = gbk::Decimal(number);
    FUZZ_REQUIRE(gbk::ToInt64(decimal) == number, text, decimal);
    FUZZ_REQUIRE(gbk::ToInt64(FullWidthDigits(decimal)) == number, text, decimal);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InstallCrashingFatalHandler();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::Input input(data, size, 3);
    const std::string& text = input.texts[0];
    const std::string& sought = input.texts[1];
    const std::string& with = input.texts[2];
    const bool ignore_case = (input.options & 1) != 0;
    const int start = (input.options >> 1) - 2;

    CheckSearches(text, sought, start, ignore_case);
    CheckFindsPieceOfText(text, input.options);
    CheckSplitAndReplace(text, sought, with);
    CheckFolderOf(text);
    CheckTrim(text);
    CheckFullWidthToAscii(text);
    CheckIntegers(text);
    CheckIntegers(sought);
    return 0;
}
