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

struct SideFileRow {
    const char* embedded;   // bundled bytes, or null
    const char* side_file;  // bytes of MEmuConsole-7.2.2.exe beside the program, or null
    bool unreadable;
    const char* found;  // bytes the store hands out, or null
    bool refused;
};

class SideFileTest : public testing::TestWithParam<SideFileRow> {};

TEST_P(SideFileTest, EmbeddedFirstThenOnlyTheExactSideFile) {
    const SideFileRow& row = GetParam();
    const ConsoleBuildInfo info{"7.2.2", "R", 5, "build"};
    FakeBuilds embedded;
    if (row.embedded) embedded.bundled["7.2.2"] = row.embedded;
    FakeFolder folder;
    if (row.side_file) folder.files["MEmuConsole-7.2.2.exe"] = row.side_file;
    if (row.unreadable) folder.unreadable.insert("MEmuConsole-7.2.2.exe");
    SideFileBuildStore store(embedded, folder, FakeMatches);

    const ConsoleBuild found = store.Find(info);
    EXPECT_EQ(std::string(found.bytes.value_or("(none)")), row.found ? row.found : "(none)");
    EXPECT_EQ(found.side_file_refused, row.refused);
    // A file far larger than the build is never read whole.
    if (!row.embedded && row.side_file) {
        EXPECT_EQ(folder.last_limit, 6u);
    }

    FakeFiles files;
    auto log = WriteManagerConsole({false, true}, "D:\\", store, files, kConsoleBuild721, info);
    EXPECT_EQ(files.writes.size(), row.found ? 1u : 0u);
    const std::string missing = row.refused ? SideFileRefusedLine(info) : NotBundledLine(info);
    EXPECT_EQ(log, row.found ? std::vector<std::string>{} : std::vector<std::string>{missing});
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SideFileTest,
    testing::Values(SideFileRow{"build", "wrong", false, "build", false},  // embedded wins
                    SideFileRow{nullptr, "build", false, "build", false},
                    SideFileRow{nullptr, "buil", false, nullptr, true},    // one byte short
                    SideFileRow{nullptr, "bxild", false, nullptr, true},   // one byte changed
                    SideFileRow{nullptr, "build!", false, nullptr, true},  // one byte more
                    SideFileRow{nullptr, nullptr, false, nullptr, false},  // none supplied
                    SideFileRow{nullptr, nullptr, true, nullptr, true}));

TEST(ManagerConsole, SideFileLineNamesTheFile) {
    const std::string line = SideFileRefusedLine(kConsoleBuild721);
    EXPECT_NE(line.find("MEmuConsole-7.2.1.exe"), std::string::npos);
    EXPECT_NE(line.find("MEmuConsole.exe 保持原样。"), std::string::npos);
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
}

}  // namespace
