#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "control/control_factory_win.h"
#include "control/control_platform_win.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

// A fresh folder under the temp folder, named in Chinese, removed with its files at the end.
// The current directory is restored too, since the tests change it. A Wine whose Unix locale
// cannot encode Chinese file names gets an ASCII name instead, so the rest still runs there.
class ScratchFolder {
public:
    ScratchFolder() {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temp);
        wchar_t original[MAX_PATH + 1] = {};
        GetCurrentDirectoryW(MAX_PATH + 1, original);
        original_ = original;
        const std::wstring pid = std::to_wstring(GetCurrentProcessId());
        path_ = std::wstring(temp) + L"控制模块测试_" + pid;
        chinese_ = CreateDirectoryW(path_.c_str(), nullptr) != FALSE;
        if (!chinese_) {
            std::printf("note: Chinese file names unavailable here; using an ASCII folder\n");
            path_ = std::wstring(temp) + L"control_test_" + pid;
            CreateDirectoryW(path_.c_str(), nullptr);
        }
    }
    ~ScratchFolder() {
        SetCurrentDirectoryW(original_.c_str());
        for (const std::wstring& file : files_) DeleteFileW(file.c_str());
        RemoveDirectoryW(path_.c_str());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string Gbk() const { return GbkFromWide(path_); }
    // Full path of a file in the folder (Chinese name when the folder has one), deleted at the
    // end.
    std::wstring File(const std::wstring& chinese_name, const std::wstring& ascii_name) {
        files_.push_back(path_ + L"\\" + (chinese_ ? chinese_name : ascii_name));
        return files_.back();
    }

private:
    std::wstring original_;
    std::wstring path_;
    bool chinese_ = false;
    std::vector<std::wstring> files_;
};

bool WaitForFile(const std::wstring& path, DWORD timeout_ms) {
    const DWORD start = GetTickCount();
    while (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start > timeout_ms) return false;
        Sleep(20);
    }
    return true;
}

TEST(WinControlPlatform, CurrentDirectoryRoundTripsAChineseFolder) {
    ScratchFolder folder;
    WinControlPlatform platform;
    ASSERT_TRUE(platform.MakeDirectoryCurrent(folder.Gbk()));
    EXPECT_EQ(platform.CurrentDirectory(), folder.Gbk());
    EXPECT_TRUE(platform.MakeDirectoryCurrent(folder.Gbk() + "\\"));
    EXPECT_EQ(platform.CurrentDirectory(), folder.Gbk());
    EXPECT_FALSE(platform.MakeDirectoryCurrent(folder.Gbk() + "\\不存在"));
    EXPECT_FALSE(platform.MakeDirectoryCurrent(""));
    EXPECT_EQ(platform.CurrentDirectory(), folder.Gbk());
}

TEST(WinControlPlatform, StartDetachedRunsTheLineWithoutWaitingForIt) {
    ScratchFolder folder;
    const std::wstring marker = folder.File(L"标记.txt", L"marker.txt");
    WinControlPlatform platform;
    platform.StartDetached("cmd.exe /c echo 已启动> \"" + GbkFromWide(marker) + "\"");
    EXPECT_TRUE(WaitForFile(marker, 20000));

    // A program that cannot be started is not reported.
    platform.StartDetached("不存在的程序_12345.exe start");
}

// Creates a hidden child window placed last among its siblings, so that the z order of the
// children is their creation order.
HWND AddChild(HWND parent) {
    HWND child = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 10, 10, parent, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    SetWindowPos(child, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return child;
}

int32_t Value(HWND window) {
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(window));
}

TEST(WinControlPlatform, WindowWalkGoesChildNextChildChildNextNext) {
    UniqueWindow top(CreateWindowExW(0, L"STATIC", L"top", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                                     nullptr, GetModuleHandleW(nullptr), nullptr));
    ASSERT_TRUE(top);
    HWND first = AddChild(top.get());
    HWND second = AddChild(top.get());
    HWND inner = AddChild(second);
    HWND innermost_1 = AddChild(inner);
    HWND innermost_2 = AddChild(inner);
    AddChild(first);  // a decoy: the walk passes over the first child's subtree
    ASSERT_TRUE(innermost_1 && innermost_2);
    ASSERT_EQ(GetWindow(top.get(), GW_CHILD), first);

    WinControlPlatform platform;
    // One sibling short of the last step: the walk finds nothing.
    EXPECT_EQ(platform.WindowWalk(Value(top.get())), 0);

    HWND innermost_3 = AddChild(inner);
    ASSERT_TRUE(innermost_3);
    EXPECT_EQ(platform.WindowWalk(Value(top.get())), Value(innermost_3));

    // No window, a window without children.
    EXPECT_EQ(platform.WindowWalk(0), 0);
    EXPECT_EQ(platform.WindowWalk(Value(innermost_3)), 0);
}

TEST(WinControlPlatform, ControlObjectAdoptsAFolderHoldingTheTool) {
    ScratchFolder folder;
    const std::wstring tool = folder.File(L"memuc.exe", L"memuc.exe");
    UniqueFileHandle file(CreateFileW(tool.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    file.reset();

    std::unique_ptr<EmulatorControl> control = CreateEmulatorControl();
    EXPECT_EQ(control->tool_file, "memuc.exe");
    ASSERT_TRUE(control->SetToolDirectory(folder.Gbk()));
    EXPECT_EQ(control->control_dir, folder.Gbk() + "\\");
    WinControlPlatform platform;
    EXPECT_EQ(platform.CurrentDirectory(), folder.Gbk());
    EXPECT_TRUE(control->EnsureWorkingDirectory());

    EXPECT_FALSE(control->SetToolDirectory(folder.Gbk() + "\\没有"));
    EXPECT_EQ(control->control_dir, "");
}

}  // namespace
