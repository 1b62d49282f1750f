// The one reader of numbers on the command line: plain decimal digits, nothing else, within
// the limits the caller gives.
#include "text/number_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "row_name.h"

namespace {

struct WholeRow {
    const char* name;
    const char* text;
    int64_t low;
    int64_t high;
    std::optional<int64_t> value;
};

class WholeNumberTest : public testing::TestWithParam<WholeRow> {};

TEST_P(WholeNumberTest, ReadsOrRefuses) {
    const WholeRow& row = GetParam();
    EXPECT_EQ(numtext::ParseWhole(row.text, row.low, row.high), row.value);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WholeNumberTest,
    testing::Values(WholeRow{"zero", "0", 0, 9, 0}, WholeRow{"highest", "9", 0, 9, 9},
                    WholeRow{"above_highest", "10", 0, 9, std::nullopt},
                    WholeRow{"lowest", "-5", -5, 5, -5},
                    WholeRow{"below_lowest", "-6", -5, 5, std::nullopt},
                    WholeRow{"leading_zeros", "007", 0, 9, 7},
                    WholeRow{"eighteen_digits", "999999999999999999", 0, INT64_MAX,
                             999999999999999999},
                    WholeRow{"nineteen_digits", "1000000000000000000", 0, INT64_MAX, std::nullopt},
                    WholeRow{"empty", "", 0, 9, std::nullopt},
                    WholeRow{"minus_alone", "-", -9, 9, std::nullopt},
                    WholeRow{"plus_sign", "+1", 0, 9, std::nullopt},
                    WholeRow{"blank_before", " 1", 0, 9, std::nullopt},
                    WholeRow{"blank_after", "1 ", 0, 9, std::nullopt},
                    WholeRow{"fraction", "1.0", 0, 9, std::nullopt},
                    WholeRow{"hexadecimal", "0x1", 0, 99, std::nullopt},
                    WholeRow{"full_width_digit", "\xA3\xB1", 0, 9, std::nullopt}),
    RowName());

struct DecimalRow {
    const char* name;
    const char* text;
    double low;
    double high;
    std::optional<double> value;
};

class DecimalNumberTest : public testing::TestWithParam<DecimalRow> {};

TEST_P(DecimalNumberTest, ReadsOrRefuses) {
    const DecimalRow& row = GetParam();
    EXPECT_EQ(numtext::ParseDecimal(row.text, row.low, row.high), row.value);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DecimalNumberTest,
    testing::Values(DecimalRow{"whole", "2", 0, 9, 2.0}, DecimalRow{"fraction", "2.5", 0, 9, 2.5},
                    DecimalRow{"lowest_tenth", "0.1", 0.1, 1, 0.1},
                    DecimalRow{"below_lowest_tenth", "0.09", 0.1, 1, std::nullopt},
                    DecimalRow{"lowest_thousandth", "0.001", 0.001, 1, 0.001},
                    DecimalRow{"below_thousandth", "0.000999999", 0.001, 1, std::nullopt},
                    DecimalRow{"highest", "2147483", 0, 2147483, 2147483.0},
                    DecimalRow{"just_above_highest", "2147483.000000001", 0, 2147483, std::nullopt},
                    DecimalRow{"negative", "-39.9", -90, 90, -39.9},
                    DecimalRow{"nine_fraction_digits", "0.123456789", 0, 1, 0.123456789},
                    DecimalRow{"ten_fraction_digits", "0.1234567891", 0, 1, std::nullopt},
                    DecimalRow{"point_alone", ".5", 0, 1, std::nullopt},
                    DecimalRow{"point_at_end", "5.", 0, 9, std::nullopt},
                    DecimalRow{"exponent", "1e3", 0, 9999, std::nullopt},
                    DecimalRow{"comma", "0,5", 0, 1, std::nullopt},
                    DecimalRow{"blank", " 1", 0, 9, std::nullopt},
                    DecimalRow{"infinity", "inf", 0, 1e300, std::nullopt},
                    DecimalRow{"empty", "", 0, 9, std::nullopt}),
    RowName());

TEST(NumberText, LimitsReadAsTheyAreWritten) {
    EXPECT_EQ(numtext::LimitText(2147483647), "2147483647");
    EXPECT_EQ(numtext::LimitText(999999999999), "999999999999");
    EXPECT_EQ(numtext::LimitText(0.1), "0.1");
    EXPECT_EQ(numtext::LimitText(0.001), "0.001");
    EXPECT_EQ(numtext::LimitText(1e7), "10000000");
}

}  // namespace
