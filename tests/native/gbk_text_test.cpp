#include "text/gbk_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/checked_array.h"
#include "text/fatal_error.h"

namespace {

// "\xD5\x5C" is one GBK character whose trail byte equals a backslash; "\xB1\x41" one whose
// trail byte is 'A'; "\x81\x2C" pairs a lead byte with a comma.
struct FindRow {
    std::string text, sought;
    int start;
    bool ignore_case;
    int expected;
};

class FindTest : public testing::TestWithParam<FindRow> {};

TEST_P(FindTest, FindsOnlyOnCharacterStarts) {
    const FindRow& r = GetParam();
    EXPECT_EQ(gbk::Find(r.text, r.sought, r.start, r.ignore_case), r.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FindTest,
    testing::Values(FindRow{"abc", "b", 1, false, 2}, FindRow{"abc", "", 1, false, -1},
                    FindRow{"", "a", 1, false, -1}, FindRow{"abcabc", "abc", 2, false, 4},
                    FindRow{"abc", "a", 0, false, 1}, FindRow{"abc", "a", -7, false, 1},
                    FindRow{"abc", "a", 9, false, -1}, FindRow{"ABC", "b", 1, false, -1},
                    FindRow{"ABC", "b", 1, true, 2},
                    // The trail byte 0x41 is 'A' but never a match start.
                    FindRow{"\xB1\x41", "A", 1, false, -1},
                    FindRow{"\xB1\x41"
                            "A",
                            "A", 1, false, 3},
                    // The trail byte 0x5C is not a backslash.
                    FindRow{"\xD5\x5C", "\\", 1, false, -1},
                    // A sought text whose first byte equals a trail byte.
                    FindRow{"\xB0\xB1\xB1\x41", "\xB1\x41", 1, false, 3},
                    FindRow{"\xB1\xB1\x41", "\xB1\x41", 1, false, -1},
                    // A lead byte as the last byte stands alone.
                    FindRow{"a\xB1", "\xB1", 1, false, 2}));

TEST(GbkText, FindLastSkipsTrailBackslash) {
    EXPECT_EQ(gbk::FindLast("a\\b\\c", "\\"), 4);
    EXPECT_EQ(gbk::FindLast("a\\\xD5\x5C", "\\"), 2);
    EXPECT_EQ(gbk::FindLast("abc", "\\"), -1);
}

TEST(GbkText, FolderOf) {
    EXPECT_EQ(gbk::FolderOf("D:\\Emu\\MEmu\\MEmu.exe"), "D:\\Emu\\MEmu\\");
    EXPECT_EQ(gbk::FolderOf("MEmu.exe"), "");
    EXPECT_EQ(gbk::FolderOf(""), "");
    EXPECT_EQ(gbk::FolderOf("D:\\\xD5\x5C.exe"), "D:\\");  // 0x5C trail byte is not a cut
}

TEST(GbkText, ReplaceAll) {
    EXPECT_EQ(gbk::ReplaceAll("a【编号】b【编号】", "【编号】", "101"), "a101b101");
    EXPECT_EQ(gbk::ReplaceAll("aaa", "aa", "b"), "ba");
    EXPECT_EQ(gbk::ReplaceAll("abc", "", "x"), "abc");
    EXPECT_EQ(gbk::ReplaceAll("", "a", "x"), "");
    EXPECT_EQ(gbk::ReplaceAll("\xD5\x5C\\", "\\", "/"), "\xD5\x5C/");
}

TEST(GbkText, TextBefore) {
    EXPECT_EQ(gbk::TextBefore("D:\\Emu\\MEmu\\", "MEmu"), "D:\\Emu\\");
    EXPECT_EQ(gbk::TextBefore("D:\\MEmuData\\Emu\\MEmu\\", "MEmu"), "D:\\");
    EXPECT_EQ(gbk::TextBefore("D:\\Emu\\", "MEmu"), "");
    EXPECT_EQ(gbk::TextBefore("xMEmu", "memu", 1, true), "x");
}

TEST(GbkText, TrimAsciiAndFullWidthSpaces) {
    EXPECT_EQ(gbk::Trim("  44  "), "44");
    EXPECT_EQ(gbk::Trim("\xA1\xA1 44\xA1\xA1 "), "44");
    EXPECT_EQ(gbk::Trim("   "), "");
    EXPECT_EQ(gbk::Trim("\xA1\xA1\xA1\xA1"), "");
    EXPECT_EQ(gbk::Trim(""), "");
    EXPECT_EQ(gbk::Trim("\ta\t"), "\ta\t");  // only spaces go
    // 0xB0 0xA1 is one character; the 0xA1 0xA1 after it is a full-width space.
    EXPECT_EQ(gbk::Trim("\xB0\xA1\xA1\xA1"), "\xB0\xA1");
    // Here the trailing 0xA1 0xA1 bytes straddle two characters: nothing to trim.
    EXPECT_EQ(gbk::Trim("\xB0\xA1\xA1"), "\xB0\xA1\xA1");
}

struct SplitRow {
    std::string text, separator;
    std::vector<std::string> expected;
};

class SplitTest : public testing::TestWithParam<SplitRow> {};

TEST_P(SplitTest, CutsOnlyAtCharacterStarts) {
    EXPECT_EQ(gbk::Split(GetParam().text, GetParam().separator), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, SplitTest,
                         testing::Values(SplitRow{"", ",", {}}, SplitRow{"a", ",", {"a"}},
                                         SplitRow{"a,b", ",", {"a", "b"}},
                                         SplitRow{"a,,b", ",", {"a", "", "b"}},
                                         SplitRow{"a,b,", ",", {"a", "b"}},
                                         SplitRow{",a", ",", {"", "a"}}, SplitRow{",", ",", {""}},
                                         SplitRow{"a\r\nb\r\n", "\r\n", {"a", "b"}},
                                         SplitRow{"a\r\n\r\nb", "\r\n", {"a", "", "b"}},
                                         SplitRow{"a\nb\rc", "\r\n", {"a\nb\rc"}},
                                         SplitRow{"\x81,x,y", ",", {"\x81,x", "y"}},
                                         SplitRow{"\x81\r\nx\r\n", "\r\n", {"\x81\r\nx"}}));

struct IntRow {
    std::string text;
    int64_t expected;
};

class ToIntTest : public testing::TestWithParam<IntRow> {};

TEST_P(ToIntTest, ReadsLeadingNumber) {
    EXPECT_EQ(gbk::ToInt(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ToIntTest,
    testing::Values(IntRow{"", 0}, IntRow{"abc", 0}, IntRow{"12", 12}, IntRow{" 2", 2},
                    IntRow{"-2", -2}, IntRow{"+5", 5}, IntRow{"-0", 0}, IntRow{"3a", 3},
                    IntRow{"007", 7}, IntRow{"\xA3\xB3", 3},  // full-width 3
                    IntRow{"\xA3\xAD\xA3\xB1\xA3\xB2", -12},  // full-width -12
                    IntRow{"\xA1\xA1"
                           "5",
                           5},  // full-width space
                    IntRow{"99999999999", 2147483647}, IntRow{"-99999999999", -2147483648LL},
                    IntRow{"99999999999999999999", 2147483647}, IntRow{"- 1", 0}));

TEST(GbkText, ToInt64Saturates) {
    EXPECT_EQ(gbk::ToInt64("99999999999"), 99999999999LL);
    EXPECT_EQ(gbk::ToInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(gbk::ToInt64("99999999999999999999"), INT64_MAX);
}

[[noreturn]] void ThrowingHandler(int code, const std::string& message, fatal::Site site) {
    throw std::runtime_error(fatal::BuildMessage(code, message, site));
}

TEST(FatalError, MessageLayout) {
    EXPECT_EQ(fatal::BuildMessage(4, fatal::IndexBelowOneText(), {3, 7}),
              "运行时出错!"
              "\r\n\r\n错误代码：4\r\n\r\n错误信息：数组成员引用下标必须大于等于1\r\n\r\n3, 7\r\n");
    EXPECT_EQ(fatal::BuildMessage(0, "", {1, 2}), "运行时出错!\r\n\r\n1, 2\r\n");
    EXPECT_EQ(fatal::BuildMessage(0, fatal::AllocationFailedText(1024), {5, 1}),
              "运行时出错!\r\n\r\n错误信息：分配 1024 字节内存失败!\r\n\r\n5, 1\r\n");
    EXPECT_EQ(fatal::MissingFunctionText("ntdll.dll", "RtlAdjustPrivilege"),
              "无法找到指定DLL库文件“ntdll.dll”中的输出命令“RtlAdjustPrivilege”");
}

TEST(CheckedArray, EveryAccessIsChecked) {
    auto previous = fatal::SetHandler(ThrowingHandler);
    CheckedArray<int> a;
    a.Append(10);
    a.Append(20);
    EXPECT_EQ(a.At(1, {1, 1}), 10);
    EXPECT_EQ(a.At(2, {1, 2}), 20);
    try {
        a.At(0, {9, 4});
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  fatal::BuildMessage(4, "数组成员引用下标必须大于等于1", {9, 4}));
    }
    try {
        a.At(3, {9, 5});
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  fatal::BuildMessage(1, "数组成员引用下标超出定义范围", {9, 5}));
    }
    fatal::SetHandler(previous);
}

}  // namespace
