#include <gtest/gtest.h>
#include <windows.h>

#include "support/win_test_support.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

TEST(WideText, RoundTripsGbkWhateverTheAnsiCodePage) {
    const std::string gbk = "错误【编号】";
    EXPECT_EQ(WideFromGbk(gbk), L"错误【编号】");
    EXPECT_EQ(GbkFromWide(WideFromGbk(gbk)), gbk);
}

TEST(UniqueResource, ClosesAndMoves) {
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    UniqueHandle moved(std::move(event));
    EXPECT_FALSE(event);
    EXPECT_TRUE(moved);
    UniqueFileHandle none;
    EXPECT_FALSE(none);
    EXPECT_FALSE(BinDir().empty());
}
