// Shared pieces of the fuzz targets: reading a fuzz input as an options byte plus texts, an
// independent model of GBK character boundaries to check results against, and a check that
// turns a broken invariant into a crash libFuzzer records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "text/fatal_error.h"

namespace fuzz {

// Aborts with the broken invariant and the inputs involved, printed byte-safe in hex, so that
// the crash log shows what went wrong and libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what, std::initializer_list<std::string_view> texts,
                              const char* file, int line) {
    std::fprintf(stderr, "\n%s:%d: invariant broken: %s\n", file, line, what);
    int n = 0;
    for (std::string_view t : texts) {
        std::fprintf(stderr, "  [%d] (%zu bytes) ", n++, t.size());
        for (unsigned char c : t) std::fprintf(stderr, "%02X", c);
        std::fprintf(stderr, "\n");
    }
    std::abort();
}

#define FUZZ_REQUIRE(condition, ...)                                                   \
    do {                                                                               \
        if (!(condition)) ::fuzz::Fail(#condition, {__VA_ARGS__}, __FILE__, __LINE__); \
    } while (0)

// True when the text is whole code page 936 characters: ASCII, 0x80 (the euro sign), or a
// lead byte 0x81-0xFE followed by a trail byte 0x40-0xFE other than 0x7F. The console
// companion's texts come from its UTF-16 command line and always are.
inline bool IsWholeGbk(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c <= 0x80) continue;
        if (c == 0xFF || i + 1 >= text.size()) return false;
        const auto trail = static_cast<unsigned char>(text[++i]);
        if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return false;
    }
    return true;
}

// An out-of-range element access must surface as a crash, not as the program's quiet exit.
inline void InstallCrashingFatalHandler() {
    fatal::SetHandler([](int code, const std::string& message, fatal::Site site) {
        std::fprintf(stderr, "fatal error %d at %d, %d: %zu message bytes\n", code, site.routine,
                     site.statement, message.size());
        std::abort();
    });
}

// The fuzz input as one options byte followed by texts separated by zero bytes (the program's
// texts are zero-terminated, so they never hold one). Missing texts are empty.
struct Input {
    uint8_t options = 0;
    std::vector<std::string> texts;

    Input(const uint8_t* data, size_t size, size_t text_count) : texts(text_count) {
        if (size == 0) return;
        options = data[0];
        size_t t = 0;
        for (size_t i = 1; i < size; ++i) {
            if (data[i] == 0 && t + 1 < text_count) {
                ++t;
            } else {
                texts[t].push_back(static_cast<char>(data[i]));
            }
        }
    }
};

// Independent model of the character walk: a byte of 0x80 or above takes the next byte with it
// (a lead byte in the last position stands alone). Marks the offsets where a character starts
// when the walk begins at `from`.
inline std::vector<bool> CharacterStarts(std::string_view text, size_t from = 0) {
    std::vector<bool> starts(text.size() + 1, false);
    size_t i = from;
    while (i < text.size()) {
        starts[i] = true;
        i += (static_cast<unsigned char>(text[i]) >= 0x80 && i + 1 < text.size()) ? 2 : 1;
    }
    return starts;
}

inline char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Whether `sought` lies in `text` at byte offset `at`, optionally folding ASCII letters.
inline bool BytesMatch(std::string_view text, size_t at, std::string_view sought,
                       bool ignore_case = false) {
    if (at > text.size() || text.size() - at < sought.size()) return false;
    for (size_t k = 0; k < sought.size(); ++k) {
        char a = text[at + k];
        char b = sought[k];
        if (ignore_case ? FoldAscii(a) != FoldAscii(b) : a != b) return false;
    }
    return true;
}

// Reference search: the first match at a character start of the walk that begins at the start
// position (1-based, below 1 = 1), as a 1-based position, or -1.
inline int ModelFind(std::string_view text, std::string_view sought, int start = 1,
                     bool ignore_case = false) {
    if (sought.empty()) return -1;
    const size_t from = start < 1 ? 0 : static_cast<size_t>(start) - 1;
    if (from >= text.size()) return -1;
    const std::vector<bool> starts = CharacterStarts(text, from);
    for (size_t i = from; i < text.size(); ++i) {
        if (starts[i] && BytesMatch(text, i, sought, ignore_case)) return static_cast<int>(i + 1);
    }
    return -1;
}

// Reference of the last match at a character start of the whole-text walk, or -1.
inline int ModelFindLast(std::string_view text, std::string_view sought) {
    if (sought.empty()) return -1;
    const std::vector<bool> starts = CharacterStarts(text);
    int last = -1;
    for (size_t i = 0; i < text.size(); ++i) {
        if (starts[i] && BytesMatch(text, i, sought)) last = static_cast<int>(i + 1);
    }
    return last;
}

}  // namespace fuzz
