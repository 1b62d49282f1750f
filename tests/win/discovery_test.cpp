// Install-location discovery against the test prefix's real registry, desktop and shortcuts.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "install/discovery_win.h"
#include "support/sim_install.h"
#include "win/wide_text.h"

namespace {

const char* const kShortcutNames[] = {"逍遥安卓多开管理器.lnk", "逍遥安卓模拟器.lnk",
                                      "逍遥模拟器.lnk"};

bool WriteEmptyFile(const std::string& path) {
    return sim::WriteFileBytes(path, "");
}

class Discovery : public ::testing::Test {
protected:
    void SetUp() override {
        desktop_ = platform_.DesktopFolder();
        ASSERT_FALSE(desktop_.empty());
        ASSERT_EQ(desktop_.back(), '\\');
        CreateDirectoryW(WideFromGbk(desktop_).c_str(), nullptr);
        Clean();
    }
    void TearDown() override { Clean(); }
    void Clean() {
        DeleteInstallLocationValue();
        for (const char* name : kShortcutNames) {
            DeleteFileW(WideFromGbk(desktop_ + name).c_str());
        }
    }
    // A folder "<temp>\...\MEmu\" with MEmu.exe in it; returns the parent (no final backslash).
    std::string MakeInstall(const std::string& tag) {
        const std::string root = MakeTempFolder(tag);
        CreateDirectoryW(WideFromGbk(root + "MEmu").c_str(), nullptr);
        EXPECT_TRUE(WriteEmptyFile(root + "MEmu\\MEmu.exe"));
        EXPECT_TRUE(WriteEmptyFile(root + "MEmu\\MEmuConsole.exe"));
        return root.substr(0, root.size() - 1);
    }
    void Link(int which, const std::string& target) {
        ASSERT_TRUE(WriteShortcut(desktop_ + kShortcutNames[which], target));
    }

    WinDiscoveryPlatform platform_;
    std::string desktop_;
};

TEST_F(Discovery, RegistryValueWithMarkerGivesTheEmulatorFolder) {
    const std::string root = MakeInstall("reg");
    ASSERT_TRUE(SetInstallLocationValue(root));
    EXPECT_EQ(DiscoverInstallDirectory(), root + "\\MEmu\\");
}

TEST_F(Discovery, RegistryValueWithoutMarkerIsNotRescuedByAShortcut) {
    const std::string good = MakeInstall("good");
    const std::string empty = MakeTempFolder("empty");
    ASSERT_TRUE(SetInstallLocationValue(empty.substr(0, empty.size() - 1)));
    Link(1, good + "\\MEmu\\MEmu.exe");
    EXPECT_EQ(DiscoverInstallDirectory(), "");
}

TEST_F(Discovery, ExpandableValueIsExpanded) {
    const std::string root = MakeInstall("expand");
    ASSERT_TRUE(SetEnvironmentVariableW(L"SIM_DISCOVERY_ROOT", WideFromGbk(root).c_str()));
    ASSERT_TRUE(SetInstallLocationValue("%SIM_DISCOVERY_ROOT%", true));
    EXPECT_EQ(DiscoverInstallDirectory(), root + "\\MEmu\\");
    EXPECT_EQ(platform_.ReadMachineRegistryText(
                  "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\MEmu",
                  "InstallLocation"),
              root);
}

TEST_F(Discovery, ChineseFolderNamesSurviveRegistryAndShortcut) {
    const std::string root = MakeInstall("模拟器");
    ASSERT_NE(root.find("模拟器"), std::string::npos);
    ASSERT_TRUE(SetInstallLocationValue(root));
    EXPECT_EQ(DiscoverInstallDirectory(), root + "\\MEmu\\");

    // Wine keeps a shortcut's target in the ANSI code page, so a Chinese target only survives
    // the shortcut when that code page is GBK (Windows stores it in UTF-16 as well).
    if (GetACP() != 936) return;
    DeleteInstallLocationValue();
    Link(2, root + "\\MEmu\\MEmu.exe");
    EXPECT_EQ(DiscoverInstallDirectory(), root + "\\MEmu\\");
}

TEST_F(Discovery, ShortcutsAloneDecideInOrder) {
    const std::string first = MakeInstall("first");
    const std::string second = MakeInstall("second");

    Link(2, second + "\\MEmu\\MEmu.exe");
    EXPECT_EQ(DiscoverInstallDirectory(), second + "\\MEmu\\");

    // Another file of the folder names the same folder.
    Link(1, first + "\\MEmu\\MEmuConsole.exe");
    EXPECT_EQ(DiscoverInstallDirectory(), first + "\\MEmu\\");

    // The first shortcut decides even when its target is no good.
    Link(0, "");
    EXPECT_EQ(DiscoverInstallDirectory(), "");
}

TEST_F(Discovery, NothingFoundGivesEmpty) {
    EXPECT_EQ(DiscoverInstallDirectory(), "");
}

TEST_F(Discovery, ShortcutTargetNeedsTheExactExtension) {
    const std::string folder = MakeTempFolder("links");
    const std::string target = MakeInstall("target") + "\\MEmu\\MEmu.exe";
    ASSERT_TRUE(WriteShortcut(folder + "good.lnk", target));
    ASSERT_TRUE(WriteShortcut(folder + "upper.LNK", target));
    EXPECT_EQ(platform_.ShortcutTarget(folder + "good.lnk"), target);
    EXPECT_EQ(platform_.ShortcutTarget(folder + "upper.LNK"), "");
    EXPECT_EQ(platform_.ShortcutTarget(target), "");

    ASSERT_TRUE(sim::WriteFileBytes(folder + "junk.lnk", "not a shortcut at all"));
    EXPECT_EQ(platform_.ShortcutTarget(folder + "junk.lnk"), "");
    EXPECT_EQ(platform_.ShortcutTarget(folder + "missing.lnk"), "");
}

TEST_F(Discovery, RegistryValuesOfOtherTypesReadAsEmpty) {
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                              L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\"
                              L"Uninstall\\MEmu",
                              0, nullptr, 0, KEY_WRITE, nullptr, &raw, nullptr),
              ERROR_SUCCESS);
    const DWORD number = 7;
    RegSetValueExW(raw, L"InstallLocation", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof number);
    RegCloseKey(raw);
    EXPECT_EQ(platform_.ReadMachineRegistryText(
                  "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\MEmu",
                  "InstallLocation"),
              "");
    EXPECT_EQ(platform_.ReadMachineRegistryText("SOFTWARE\\NoSuchVendor\\NoSuchKey", "x"), "");
}

TEST_F(Discovery, LongRegistryValueIsReadWhole) {
    const std::string root = MakeInstall("long");
    // Far beyond the first read buffer; the extra separators are kept as stored.
    const std::string value = root + std::string(400, '\\');
    ASSERT_TRUE(SetInstallLocationValue(value));
    EXPECT_EQ(platform_.ReadMachineRegistryText(
                  "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\MEmu",
                  "InstallLocation"),
              value);
}

TEST_F(Discovery, FileExistsFindsFilesAndFolders) {
    const std::string root = MakeInstall("exists");
    EXPECT_TRUE(FileExists(root + "\\MEmu\\MEmu.exe"));
    EXPECT_TRUE(FileExists(root + "\\MEmu"));
    EXPECT_FALSE(FileExists(root + "\\MEmu\\memuc.exe"));
    EXPECT_FALSE(FileExists(""));
}

}  // namespace
