#include "app/integer_input.h"

#include <gtest/gtest.h>

namespace {

struct Row {
    const char* typed;
    const char* shown;
};

// What the count box shows after losing the focus, for what the user left in it.
const Row kRows[] = {
    {"", ""},
    {"0", ""},
    {"-", ""},
    {"-0", ""},
    {"000", ""},
    {"7", "7"},
    {"007", "7"},
    {"-5", "-5"},
    {"-007", "-7"},
    {"12abc", "12"},  // pasted text: only the leading number counts
    {"5-3", "5"},
    {"--5", ""},
    {"abc", ""},
    {"2147483647", "2147483647"},
    {"2147483648", "2147483647"},
    {"99999999999", "2147483647"},
    {"-2147483648", "-2147483648"},
    {"-2147483649", "-2147483648"},
    {"-99999999999", "-2147483648"},
    {"99999999999999999999999999", "2147483647"},  // beyond 64 bits too
    {"-99999999999999999999999999", "-2147483648"},
};

TEST(NormalisedIntegerText, ShowsTheClampedLeadingNumberAndZeroAsEmpty) {
    for (const Row& row : kRows) {
        EXPECT_EQ(NormalisedIntegerText(row.typed), row.shown) << "typed: \"" << row.typed << '"';
    }
}

TEST(NormalisedIntegerText, IsStableOnItsOwnResult) {
    for (const Row& row : kRows) {
        std::string once = NormalisedIntegerText(row.typed);
        EXPECT_EQ(NormalisedIntegerText(once), once) << "typed: \"" << row.typed << '"';
    }
}

}  // namespace

namespace {

TEST(IsIntegerInputCharacter, LetsControlCharactersDigitsAndMinusThrough) {
    struct Case {
        unsigned int code;
        bool accepted;
    };
    const Case cases[] = {
        {0x08, true},  // Backspace
        {0x16, true},  // Ctrl+V
        {0x1F, true},  // last control character
        {' ', false},  // 32 is the first typed character
        {'-', true},     {'+', false}, {'.', false}, {'/', false},    {'0', true}, {'9', true},
        {':', false},    {'a', false}, {'E', false}, {0xFF10, false},  // full-width digit zero
        {0x4E00, false},                                               // a Chinese character
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsIntegerInputCharacter(c.code), c.accepted) << "code " << c.code;
    }
}

}  // namespace
