// Writing the manager console build against the real file system: small test builds with their
// own size and digest stand in for the emulator maker's builds, embedded (held in memory) or
// supplied as files beside the program (a folder of the test's own).
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "install/console_build_store_win.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(std::filesystem::path(WideFromGbk(path)), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(std::filesystem::path(WideFromGbk(path)), std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool Exists(const std::string& path) {
    return GetFileAttributesW(WideFromGbk(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

class ManagerConsoleWrite : public testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = GbkFromWide(temp) + "控制台测试" + std::to_string(GetTickCount()) + "\\";
        side_ = folder_ + "程序\\";
        ASSERT_TRUE(CreateDirectoryW(WideFromGbk(folder_).c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(WideFromGbk(side_).c_str(), nullptr));
        build721_ = std::string(300, '\x21') + "build 7.2.1";
        build722_ = std::string(400, '\x22') + "build 7.2.2";
        info721_ = {"7.2.1", "T721", build721_.size(), nullptr};
        info722_ = {"7.2.2", "T722", build722_.size(), nullptr};
        sha721_ = Sha256Hex(build721_);
        sha722_ = Sha256Hex(build722_);
        info721_.sha256_hex = sha721_.c_str();
        info722_.sha256_hex = sha722_.c_str();
        store_.Add("7.2.1", build721_);
        store_.Add("7.2.2", build722_);
    }
    void TearDown() override {
        std::string target = folder_ + "MEmuConsole.exe";
        SetFileAttributesW(WideFromGbk(target).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(WideFromGbk(target).c_str());
        for (const char* name : {"MEmuConsole-7.2.1.exe", "MEmuConsole-7.2.2.exe"})
            DeleteFileW(WideFromGbk(side_ + name).c_str());
        RemoveDirectoryW(WideFromGbk(side_).c_str());
        RemoveDirectoryW(WideFromGbk(folder_).c_str());
    }
    std::vector<std::string> Write(bool radio1, bool radio2, const std::string& dir) {
        return WriteManagerConsole({radio1, radio2}, dir, store_, files_, info721_, info722_);
    }
    // The same write with `embedded` as the bundled builds and side_ as the program's folder.
    std::vector<std::string> WriteWithSideFiles(bool radio1, bool radio2,
                                                ConsoleBuildStore& embedded) {
        FolderFileReader folder(WideFromGbk(side_));
        SideFileBuildStore builds(embedded, folder, MatchesInfo);
        return WriteManagerConsole({radio1, radio2}, folder_, builds, files_, info721_, info722_);
    }

    std::string folder_, side_, build721_, build722_, sha721_, sha722_;
    ConsoleBuildInfo info721_{}, info722_{};
    MemoryBuildStore store_;
    AtomicFileReplacer files_;
};

TEST_F(ManagerConsoleWrite, EachRadioButtonWritesItsBuildExactly) {
    EXPECT_TRUE(Write(true, false, folder_).empty());
    EXPECT_TRUE(ReadFileBytes(folder_ + "MEmuConsole.exe") == build721_);
    EXPECT_TRUE(Write(false, true, folder_).empty());
    EXPECT_TRUE(ReadFileBytes(folder_ + "MEmuConsole.exe") == build722_);
}

TEST_F(ManagerConsoleWrite, LongerExistingFileIsReplacedByExactlyTheBuild) {
    WriteFileBytes(folder_ + "MEmuConsole.exe", std::string(2000, 'x'));
    EXPECT_TRUE(Write(false, true, folder_).empty());
    EXPECT_TRUE(ReadFileBytes(folder_ + "MEmuConsole.exe") == build722_);
    // No temporary file is left behind.
    WIN32_FIND_DATAW found;
    UniqueFindHandle find(FindFirstFileW(WideFromGbk(folder_ + "*.writing-*").c_str(), &found));
    EXPECT_FALSE(find);
}

TEST_F(ManagerConsoleWrite, EmptyInstallDirectoryWritesIntoTheCurrentFolder) {
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(WideFromGbk(folder_).c_str()));
    EXPECT_TRUE(Write(true, false, "").empty());
    SetCurrentDirectoryW(previous);
    EXPECT_TRUE(ReadFileBytes(folder_ + "MEmuConsole.exe") == build721_);
}

TEST_F(ManagerConsoleWrite, NeitherRadioCheckedWritesNothing) {
    EXPECT_TRUE(Write(false, false, folder_).empty());
    EXPECT_FALSE(Exists(folder_ + "MEmuConsole.exe"));
}

TEST_F(ManagerConsoleWrite, LockedTargetStaysByteForByte) {
    const std::string old(20000, 'o');
    WriteFileBytes(folder_ + "MEmuConsole.exe", old);
    {
        // The running manager holds its file open without sharing.
        UniqueFileHandle held(CreateFileW(WideFromGbk(folder_ + "MEmuConsole.exe").c_str(),
                                          GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        auto log = Write(false, true, folder_);
        EXPECT_EQ(log, std::vector<std::string>{WriteFailedLine(info722_)});
    }
    EXPECT_TRUE(ReadFileBytes(folder_ + "MEmuConsole.exe") == old);
}

TEST_F(ManagerConsoleWrite, ReadOnlyTargetStaysByteForByte) {
    const std::string old(20000, 'r');
    WriteFileBytes(folder_ + "MEmuConsole.exe", old);
    SetFileAttributesW(WideFromGbk(folder_ + "MEmuConsole.exe").c_str(), FILE_ATTRIBUTE_READONLY);
    auto log = Write(true, false, folder_);
    EXPECT_EQ(log, std::vector<std::string>{WriteFailedLine(info721_)});
    EXPECT_TRUE(ReadFileBytes(folder_ + "MEmuConsole.exe") == old);
}

TEST_F(ManagerConsoleWrite, MissingFolderFailsWithALogLine) {
    auto log = Write(true, false, folder_ + "gone\\");
    EXPECT_EQ(log, std::vector<std::string>{WriteFailedLine(info721_)});
}

TEST_F(ManagerConsoleWrite, BuildThatDoesNotMatchItsDigestIsNotWritten) {
    MemoryBuildStore wrong;
    wrong.Add("7.2.2", build721_);  // other bytes than the 7.2.2 info describes
    AtomicFileReplacer files;
    auto log = WriteManagerConsole({false, true}, folder_, wrong, files, info721_, info722_);
    EXPECT_EQ(log, std::vector<std::string>{NotBundledLine(info722_)});
    EXPECT_FALSE(Exists(folder_ + "MEmuConsole.exe"));
}

TEST_F(ManagerConsoleWrite, SideFileIsWrittenExactlyForEachRadioButton) {
    WriteFileBytes(side_ + "MEmuConsole-7.2.1.exe", build721_);
    WriteFileBytes(side_ + "MEmuConsole-7.2.2.exe", build722_);
    MemoryBuildStore none;
    EXPECT_TRUE(WriteWithSideFiles(true, false, none).empty());
    EXPECT_TRUE(ReadFileBytes(folder_ + "MEmuConsole.exe") == build721_);
    EXPECT_TRUE(WriteWithSideFiles(false, true, none).empty());
    EXPECT_TRUE(ReadFileBytes(folder_ + "MEmuConsole.exe") == build722_);
}

TEST_F(ManagerConsoleWrite, WrongSideFileIsRefusedAndTheOldFileKept) {
    const std::string old(3000, 'o');
    WriteFileBytes(folder_ + "MEmuConsole.exe", old);
    std::string changed = build722_;
    changed[200] ^= 1;
    for (const std::string& wrong : {build722_.substr(0, build722_.size() - 1), changed}) {
        WriteFileBytes(side_ + "MEmuConsole-7.2.2.exe", wrong);
        MemoryBuildStore none;
        EXPECT_EQ(WriteWithSideFiles(false, true, none),
                  std::vector<std::string>{SideFileRefusedLine(info722_)});
        EXPECT_TRUE(ReadFileBytes(folder_ + "MEmuConsole.exe") == old);
    }
}

TEST_F(ManagerConsoleWrite, EmbeddedBuildWinsOverASideFile) {
    WriteFileBytes(side_ + "MEmuConsole-7.2.2.exe", "not the build");
    EXPECT_TRUE(WriteWithSideFiles(false, true, store_).empty());
    EXPECT_TRUE(ReadFileBytes(folder_ + "MEmuConsole.exe") == build722_);
}

TEST(ConsoleBuilds, Sha256OfKnownText) {
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(ConsoleBuilds, NotBundledWithoutResources) {
    ResourceBuildStore resources;  // the test executable carries no builds
    EXPECT_FALSE(resources.Find(kConsoleBuild721).bytes);
    EXPECT_FALSE(resources.Find(kConsoleBuild722).bytes);
}

}  // namespace
