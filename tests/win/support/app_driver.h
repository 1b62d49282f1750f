// Drives the built program (bin\MEmuSnapshotTool.exe) from a test: starts it, finds its window
// and controls (children in tab order), reads and sets control texts, clicks, closes.
#pragma once

#include <windows.h>

#include <string>

#include "win/unique_resource.h"

// Control positions in the window's child order (tab order), counted from 1.
enum class AppControl : int {
    kRadio722 = 2,    // 单选框2
    kRadio721 = 3,    // 单选框1
    kLog = 4,         // 编辑框_日志
    kRefresh = 5,     // 按钮_刷新模拟器
    kOneKey = 6,      // 按钮_一键生成快照
    kCount = 8,       // 编辑框_数量
    kVmList = 11,     // 组合框1
    kInstallDir = 13  // 编辑框_模拟器目录
};

class AppDriver {
public:
    ~AppDriver();
    // Starts the program and waits until its window is shown and 组合框1 holds
    // `expected_vms` items (the list is filled while the window is already visible).
    bool Start(int expected_vms);
    // Drives a program that is already running (no process handle: Running() is false).
    bool Attach(HWND window) {
        window_ = window;
        if (window) GetWindowThreadProcessId(window, &pid_);
        return window != nullptr;
    }
    HWND window() const { return window_; }
    HWND Control(AppControl which) const;
    std::string Text(AppControl which) const;  // GBK
    void SetText(AppControl which, const std::string& gbk);
    int ComboCount() const;
    void SelectCombo(int index);
    void Click(AppControl which);  // posted: returns at once
    // Waits until the log text is longer than `longer_than` bytes and ends with `ending`;
    // false after `timeout_ms`. Pass the log's length from before a click, so that the ending
    // of an earlier run does not count.
    bool WaitForLogEnding(const std::string& ending, int timeout_ms, size_t longer_than = 0);
    // A message box of the program (a dialog titled like the window), or null.
    HWND FindMessageBox() const;
    void Close();  // posts WM_CLOSE
    // Waits for the process to end; its exit code, or -2 on time-out.
    long WaitForExit(int timeout_ms);
    bool Running() const;

private:
    UniqueHandle process_;
    DWORD pid_ = 0;
    HWND window_ = nullptr;
};

// Text of the window title as GBK.
std::string AppTitle();
// Polls `condition` every 50 ms until true or `timeout_ms` passed.
template <typename F>
bool WaitUntil(F condition, int timeout_ms) {
    for (int waited = 0; waited < timeout_ms; waited += 50) {
        if (condition()) return true;
        Sleep(50);
    }
    return condition();
}
