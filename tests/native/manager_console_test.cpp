#include "install/manager_console.h"

#include <gtest/gtest.h>

#include "fake_console_builds.h"

namespace {

TEST(ManagerConsole, WritesTheCheckedBuildSilently) {
    FakeBuilds builds;
    builds.bundled = {{"7.2.1", "one"}, {"7.2.2", "two"}};
    FakeFiles files;
    EXPECT_TRUE(WriteManagerConsole({true, false}, "D:\\Emu\\MEmu\\", builds, files).empty());
    EXPECT_TRUE(WriteManagerConsole({false, true}, "", builds, files).empty());
    ASSERT_EQ(files.writes.size(), 2u);
    EXPECT_EQ(files.writes[0],
              std::make_pair(std::string("D:\\Emu\\MEmu\\MEmuConsole.exe"), std::string("one")));
    EXPECT_EQ(files.writes[1], std::make_pair(std::string("MEmuConsole.exe"), std::string("two")));
}

TEST(ManagerConsole, NeitherCheckedWritesNothing) {
    FakeBuilds builds;
    builds.bundled = {{"7.2.1", "one"}, {"7.2.2", "two"}};
    FakeFiles files;
    EXPECT_TRUE(WriteManagerConsole({false, false}, "D:\\", builds, files).empty());
    EXPECT_TRUE(files.writes.empty());
}

TEST(ManagerConsole, MissingBuildIsNeverWrittenAndSaysSo) {
    FakeBuilds builds;  // nothing bundled
    FakeFiles files;
    auto log = WriteManagerConsole({false, true}, "D:\\", builds, files);
    EXPECT_TRUE(files.writes.empty());
    EXPECT_EQ(log, std::vector<std::string>{NotBundledLine(kConsoleBuild722)});
    EXPECT_NE(log[0].find("7.2.2"), std::string::npos);
    EXPECT_EQ(log[0].substr(log[0].size() - 2), "\r\n");
}

TEST(ManagerConsole, FailedWriteIsLogged) {
    FakeBuilds builds;
    builds.bundled = {{"7.2.1", "one"}};
    FakeFiles files;
    files.fail = true;
    auto log = WriteManagerConsole({true, false}, "D:\\", builds, files);
    EXPECT_EQ(log, std::vector<std::string>{WriteFailedLine(kConsoleBuild721)});
}

}  // namespace
