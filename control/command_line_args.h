// The Windows C runtime's rules for a command line (CommandLineToArgvW): how a text must be
// written so that a program started with that line receives it as one argument, exactly.
// Steps over the characters of code page 936 as the line's conversion to UTF-16 reads them: a
// lead byte 0x81-0xFE with the byte after it is one character, so a trail byte equal to a
// backslash or a quote belongs to it; every other byte (0x80 is the euro sign) is one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace cmdline {

// One argument placed bare in a line: unchanged when it holds no blank, tab or double quote
// and is not empty; otherwise in double quotes, with every quote written as \" and the
// backslashes before a quote, or before the closing quote, doubled.
std::string QuoteArgument(std::string_view text);

// A text placed between double quotes that the line itself writes around it: the quotes in
// it, and the backslashes before them or before the closing quote, escaped as QuoteArgument
// does inside its quotes.
std::string EscapeInsideQuotes(std::string_view text);

// The arguments a program receives from `line` (after the program's own name, which the line
// must not hold), by the same rules: blanks and tabs separate outside quotes; 2n backslashes
// before a quote give n backslashes and the quote opens or closes; 2n+1 give n backslashes
// and a literal quote; a quote right after a closing quote inside a quoted part is literal.
std::vector<std::string> SplitArguments(std::string_view line);

// Bytes of the code page 936 character at `i`: 2 for a lead byte 0x81-0xFE followed by a byte,
// else 1.
size_t CharWidth936(std::string_view text, size_t i);

// Characters of the line once it is converted to UTF-16 (a GBK character is one unit).
size_t WideLength(std::string_view gbk);

// The longest command line CreateProcessW takes: 32767 characters with the terminating zero.
inline constexpr size_t kLongestCommandLine = 32766;

}  // namespace cmdline
