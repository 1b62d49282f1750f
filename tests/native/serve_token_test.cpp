// The owner's token: a new one from the random source, a --token-file's rules at their
// boundaries, and the comparison.
#include "serve/token.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "row_name.h"

namespace {

// Gives 0x00, 0x01, ... and records every size asked for.
class FakeRandom : public serve::RandomSource {
public:
    explicit FakeRandom(bool works) : works_(works) {}
    bool Fill(unsigned char* bytes, std::size_t size) override {
        asked.push_back(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(next_++ * 7);
        return works_;
    }
    std::vector<std::size_t> asked;

private:
    const bool works_;
    unsigned next_ = 0;
};

TEST(ServeToken, IsThirtyTwoRandomBytesInLowerCaseHex) {
    FakeRandom random(true);
    const std::optional<std::string> token = serve::NewToken(random);
    ASSERT_TRUE(token);
    EXPECT_EQ(random.asked, std::vector<std::size_t>{32});
    // 0, 7, 14, ... 217 as the fake gave them.
    EXPECT_EQ(token->substr(0, 8), "00070e15");
    EXPECT_EQ(token->substr(56), "c4cbd2d9");
    EXPECT_EQ(token->size(), 64u);
}

TEST(ServeToken, IsNoneWhenTheGeneratorFails) {
    FakeRandom random(false);
    EXPECT_FALSE(serve::NewToken(random));
}

struct FileRow {
    const char* name;
    std::string content;
    const char* problem;  // a part of the message; null: taken
    std::string token;    // when taken
};

const std::string k31(31, 'a');
const std::string k32(32, 'a');

class ServeTokenFile : public testing::TestWithParam<FileRow> {};

TEST_P(ServeTokenFile, TakesOneWordOnOneLine) {
    const FileRow& row = GetParam();
    const serve::TokenFile file = serve::TokenFromFile(row.content);
    ExpectReason(file.token ? std::nullopt : std::optional<std::string>(file.problem), row.problem);
    if (file.token) {
        EXPECT_EQ(*file.token, row.token);
    }
}

INSTANTIATE_TEST_SUITE_P(
    ServeTokenFileRows, ServeTokenFile,
    testing::Values(
        FileRow{"chars_31", k31, "31 characters long: it needs at least 32", ""},
        FileRow{"chars_32", k32, nullptr, k32},
        FileRow{"chars_31_with_line_end", k31 + "\n", "31 characters", ""},
        FileRow{"line_feed", k32 + "\n", nullptr, k32},
        FileRow{"cr_lf", k32 + "\r\n", nullptr, k32},
        FileRow{"lone_cr", k32 + "\r", "control character (0x0D) at character 33", ""},
        FileRow{"two_line_ends", k32 + "\n\n", "control character (0x0A)", ""},
        FileRow{"leading_line_end", "\n" + k32, "control character (0x0A) at character 1", ""},
        FileRow{"blank_inside", "aaaa aaaa" + k32, "blank at character 5", ""},
        FileRow{"trailing_blank", k32 + " \r\n", "blank at character 33", ""},
        FileRow{"tab", k32 + "\t", "control character (0x09)", ""},
        FileRow{"delete", k32 + "\x7F", "control character (0x7F)", ""},
        FileRow{"zero_byte", k32 + std::string(1, '\0'), "control character (0x00)", ""},
        FileRow{"byte_order_mark", "\xEF\xBB\xBF" + k32, "byte order mark", ""},
        FileRow{"not_ascii", k32 + "\xC4\xE3", "not ASCII", ""},
        FileRow{"empty", "", "0 characters long", ""},
        FileRow{"chars_1024", std::string(1024, 'b'), nullptr, std::string(1024, 'b')},
        FileRow{"chars_1025", std::string(1025, 'b'), "longer than 1024", ""},
        FileRow{"punctuation", k32 + "+/=~", nullptr, k32 + "+/=~"}),
    RowName());

struct CompareRow {
    const char* name;
    std::string given;
    bool same;
};

const std::string kSecret = "0123456789abcdef0123456789abcdef";

class ServeSameSecret : public testing::TestWithParam<CompareRow> {};

TEST_P(ServeSameSecret, IsTrueOnlyForTheSameBytes) {
    EXPECT_EQ(serve::SameSecret(GetParam().given, kSecret), GetParam().same);
}

INSTANTIATE_TEST_SUITE_P(
    ServeSameSecretRows, ServeSameSecret,
    testing::Values(CompareRow{"equal", kSecret, true},
                    CompareRow{"first_byte_differs", std::string("1") + kSecret.substr(1), false},
                    CompareRow{"last_byte_differs", kSecret.substr(0, 31) + "0", false},
                    CompareRow{"one_bit_differs", kSecret.substr(0, 31) + "g", false},
                    CompareRow{"one_shorter", kSecret.substr(0, 31), false},
                    CompareRow{"one_longer", kSecret + "0", false},
                    CompareRow{"longer_with_zero_byte", kSecret + std::string(1, '\0'), false},
                    CompareRow{"empty", "", false},
                    CompareRow{"other_case", "0123456789ABCDEF0123456789abcdef", false}),
    RowName());

}  // namespace
