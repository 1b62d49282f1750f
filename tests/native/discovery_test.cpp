#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "install/discovery.h"

namespace {

const char kKey[] = "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\MEmu";
const char kDesktop[] = "C:\\Users\\me\\Desktop\\";
const char kManagerLink[] = "C:\\Users\\me\\Desktop\\逍遥安卓多开管理器.lnk";
const char kEmulatorLink[] = "C:\\Users\\me\\Desktop\\逍遥安卓模拟器.lnk";
const char kShortLink[] = "C:\\Users\\me\\Desktop\\逍遥模拟器.lnk";

class FakePlatform : public DiscoveryPlatform {
public:
    std::string registry_value;
    std::set<std::string> files;
    std::map<std::string, std::string> targets;
    std::vector<std::string> registry_reads;  // "key|value"
    std::vector<std::string> exists_checks;
    std::vector<std::string> target_reads;
    std::string desktop = kDesktop;

    std::string ReadMachineRegistryText(const std::string& key_path,
                                        const std::string& value_name) override {
        registry_reads.push_back(key_path + "|" + value_name);
        return registry_value;
    }
    std::string DesktopFolder() override { return desktop; }
    bool FileExists(const std::string& path) override {
        exists_checks.push_back(path);
        return files.count(path) > 0;
    }
    std::string ShortcutTarget(const std::string& path) override {
        target_reads.push_back(path);
        auto it = targets.find(path);
        return it == targets.end() ? std::string() : it->second;
    }
};

TEST(Discovery, ReadsTheUninstallEntryOfTheThirtyTwoBitNode) {
    FakePlatform platform;
    DiscoverInstallDirectory(platform);
    ASSERT_EQ(platform.registry_reads.size(), 1u);
    EXPECT_EQ(platform.registry_reads[0], std::string(kKey) + "|InstallLocation");
}

TEST(Discovery, RegistryValueWithMarkerFileGivesItsEmulatorFolder) {
    FakePlatform platform;
    platform.registry_value = "D:\\Emu";
    platform.files = {"D:\\Emu\\MEmu\\MEmu.exe"};
    EXPECT_EQ(DiscoverInstallDirectory(platform), "D:\\Emu\\MEmu\\");
}

TEST(Discovery, RegistryValueIsUsedUnchanged) {
    // A trailing backslash in the value is kept, giving a doubled separator.
    FakePlatform platform;
    platform.registry_value = "D:\\Emu\\";
    platform.files = {"D:\\Emu\\MEmu\\MEmu.exe", "D:\\Emu\\\\MEmu\\MEmu.exe"};
    EXPECT_EQ(DiscoverInstallDirectory(platform), "D:\\Emu\\\\MEmu\\");
}

TEST(Discovery, FailedRegistryCandidateDoesNotFallBackToShortcuts) {
    FakePlatform platform;
    platform.registry_value = "D:\\Emu";
    platform.files = {kEmulatorLink, "E:\\Other\\MEmu\\MEmu.exe"};
    platform.targets = {{kEmulatorLink, "E:\\Other\\MEmu\\MEmu.exe"}};
    EXPECT_EQ(DiscoverInstallDirectory(platform), "");
    EXPECT_TRUE(platform.target_reads.empty());
    EXPECT_EQ(platform.exists_checks, std::vector<std::string>{"D:\\Emu\\MEmu\\MEmu.exe"});
}

struct ShortcutCase {
    const char* name;
    std::vector<std::string> files;
    std::map<std::string, std::string> targets;
    std::string expected;
};

class DiscoveryByShortcut : public ::testing::TestWithParam<ShortcutCase> {};

TEST_P(DiscoveryByShortcut, FirstExistingShortcutDecides) {
    const ShortcutCase& c = GetParam();
    FakePlatform platform;
    platform.files.insert(c.files.begin(), c.files.end());
    platform.targets = c.targets;
    EXPECT_EQ(DiscoverInstallDirectory(platform), c.expected);
}

const std::string kValidTarget = "D:\\Emu\\MEmu\\MEmu.exe";
const std::string kMarker = "D:\\Emu\\MEmu\\MEmu.exe";

INSTANTIATE_TEST_SUITE_P(
    Cases, DiscoveryByShortcut,
    ::testing::Values(
        ShortcutCase{"OnlySecondShortcut",
                     {kEmulatorLink, kMarker},
                     {{kEmulatorLink, kValidTarget}},
                     "D:\\Emu\\MEmu\\"},
        ShortcutCase{"OnlyThirdShortcut",
                     {kShortLink, kMarker},
                     {{kShortLink, kValidTarget}},
                     "D:\\Emu\\MEmu\\"},
        ShortcutCase{"FirstWithEmptyTargetHidesValidSecond",
                     {kManagerLink, kEmulatorLink, kMarker},
                     {{kManagerLink, ""}, {kEmulatorLink, kValidTarget}},
                     ""},
        ShortcutCase{"FirstWithoutBackslashHidesValidSecond",
                     {kManagerLink, kEmulatorLink, kMarker},
                     {{kManagerLink, "MEmu.exe"}, {kEmulatorLink, kValidTarget}},
                     ""},
        ShortcutCase{"FirstPointingElsewhereHidesValidSecond",
                     {kManagerLink, kEmulatorLink, kMarker},
                     {{kManagerLink, "E:\\Gone\\MEmu.exe"}, {kEmulatorLink, kValidTarget}},
                     ""},
        ShortcutCase{"NoShortcutAtAll", {kMarker}, {}, ""},
        ShortcutCase{"TargetIsAnotherFileOfTheFolder",
                     {kManagerLink, kMarker},
                     {{kManagerLink, "D:\\Emu\\MEmu\\MEmuConsole.exe"}},
                     "D:\\Emu\\MEmu\\"},
        ShortcutCase{
            "TargetFolderWithoutMarker", {kEmulatorLink}, {{kEmulatorLink, kValidTarget}}, ""},
        // 0x5C as the trail byte of a Chinese character is not a folder separator.
        ShortcutCase{"TrailByteBackslashIsNotASeparator",
                     {kEmulatorLink, "D:\\Emu\\MEmu.exe"},
                     {{kEmulatorLink, "D:\\Emu\\乗.exe"}},
                     "D:\\Emu\\"}),
    [](const ::testing::TestParamInfo<ShortcutCase>& row) { return row.param.name; });

TEST(Discovery, ShortcutsAreTriedInOrderAndStopAtTheFirstThatExists) {
    FakePlatform platform;
    platform.files = {kEmulatorLink, kShortLink};
    DiscoverInstallDirectory(platform);
    ASSERT_GE(platform.exists_checks.size(), 2u);
    EXPECT_EQ(platform.exists_checks[0], kManagerLink);
    EXPECT_EQ(platform.exists_checks[1], kEmulatorLink);
    EXPECT_EQ(platform.target_reads, std::vector<std::string>{kEmulatorLink});
}

TEST(Discovery, EmptyTargetNeverProbesTheCurrentDirectory) {
    FakePlatform platform;
    platform.files = {kManagerLink, "MEmu.exe"};
    EXPECT_EQ(DiscoverInstallDirectory(platform), "");
}

TEST(Discovery, UnknownDesktopFolderSkipsTheShortcuts) {
    FakePlatform platform;
    platform.desktop = "";
    platform.files = {"逍遥安卓多开管理器.lnk", kMarker};
    platform.targets = {{"逍遥安卓多开管理器.lnk", kValidTarget}};
    EXPECT_EQ(DiscoverInstallDirectory(platform), "");
    EXPECT_TRUE(platform.target_reads.empty());
}

}  // namespace
