#include "control/command_line_args.h"
#include "row_name.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct QuoteRow {
    const char* name;
    std::string text;
    std::string bare;    // QuoteArgument(text)
    std::string inside;  // EscapeInsideQuotes(text)
};

// Rows print as their names in test listings.
void PrintTo(const QuoteRow& row, std::ostream* out) {
    *out << row.name;
}

class QuotingTest : public testing::TestWithParam<QuoteRow> {};

// Every text, written either way, comes back from the C runtime's rules as the one argument it
// was.
TEST_P(QuotingTest, TextComesBackAsOneArgument) {
    const QuoteRow& row = GetParam();
    const std::string bare = cmdline::QuoteArgument(row.text);
    EXPECT_EQ(bare, row.bare);
    EXPECT_EQ(cmdline::SplitArguments("x " + bare + " y"),
              (std::vector<std::string>{"x", row.text, "y"}));
    const std::string inside = cmdline::EscapeInsideQuotes(row.text);
    EXPECT_EQ(inside, row.inside);
    EXPECT_EQ(cmdline::SplitArguments("rename \"" + inside + "\""),
              (std::vector<std::string>{"rename", row.text}));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, QuotingTest,
    testing::Values(
        QuoteRow{"plain", "plain", "plain", "plain"}, QuoteRow{"empty", "", "\"\"", ""},
        QuoteRow{"blank", "4 -i 3", "\"4 -i 3\"", "4 -i 3"},
        QuoteRow{"tab", "a\tb", "\"a\tb\"", "a\tb"},
        QuoteRow{"quote", "a\"b", "\"a\\\"b\"", "a\\\"b"},
        QuoteRow{"backslashes before a quote", "a\\\\\"b", "\"a\\\\\\\\\\\"b\"", "a\\\\\\\\\\\"b"},
        QuoteRow{"trailing backslash", "end\\", "end\\", "end\\\\"},
        QuoteRow{"trailing backslash with blank", "C:\\My Files\\", "\"C:\\My Files\\\\\"",
                 "C:\\My Files\\\\"},
        QuoteRow{"inner backslashes stay", "C:\\a\\b", "C:\\a\\b", "C:\\a\\b"},
        // Trail bytes 0x5C and 0x7C belong to their characters: never doubled, never split.
        QuoteRow{"GBK trail 0x5C at the end", "a b\x95\x5C", "\"a b\x95\x5C\"", "a b\x95\x5C"},
        QuoteRow{"GBK trail 0x5C before a quote", "\x95\x5C\"", "\"\x95\x5C\\\"\"", "\x95\x5C\\\""},
        QuoteRow{"GBK trail 0x7C", "\x81|x", "\x81|x", "\x81|x"},
        // 0x80 is the euro sign, one byte: the quote after it is a quote.
        QuoteRow{"euro sign before a quote", "\x80\" -i 5", "\"\x80\\\" -i 5\"", "\x80\\\" -i 5"},
        QuoteRow{"shell characters", "a&b|c<d>e^%PATH%!x", "a&b|c<d>e^%PATH%!x",
                 "a&b|c<d>e^%PATH%!x"},
        QuoteRow{"Chinese with blank", "逍遥 二号", "\"逍遥 二号\"", "逍遥 二号"}),
    RowName());

struct SplitRow {
    const char* name;
    std::string line;
    std::vector<std::string> args;
};

class ArgumentSplitTest : public testing::TestWithParam<SplitRow> {};

// Lines written by hand or by another program, read by the C runtime's rules.
TEST_P(ArgumentSplitTest, ReadsTheArgumentsOfALine) {
    EXPECT_EQ(cmdline::SplitArguments(GetParam().line), GetParam().args);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ArgumentSplitTest,
    testing::Values(SplitRow{"doubled quote inside quotes", "\"a\"\"b\" c", {"a\"b", "c"}},
                    SplitRow{"empty quotes are an argument", "x \"\" y", {"x", "", "y"}},
                    SplitRow{"quotes end inside a word", "a\"b c\"d e", {"ab cd", "e"}},
                    SplitRow{"blanks and tabs between", " a\t\tb ", {"a", "b"}},
                    SplitRow{"a Chinese word alone", "逍遥", {"逍遥"}},
                    SplitRow{"a Chinese word last", "rename 逍遥", {"rename", "逍遥"}}),
    RowName());

TEST(CommandLineArgs, WideLengthCountsCharacters) {
    EXPECT_EQ(cmdline::WideLength(""), 0u);
    EXPECT_EQ(cmdline::WideLength("ab"), 2u);
    EXPECT_EQ(cmdline::WideLength("逍遥"), 2u);    // four GBK bytes
    EXPECT_EQ(cmdline::WideLength("a\x81"), 2u);   // a lone lead byte at the end
    EXPECT_EQ(cmdline::WideLength("\x80\""), 2u);  // the euro sign and a quote
}

}  // namespace
