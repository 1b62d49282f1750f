// The program's one window: fourteen controls laid out from a fixed table, the three bound
// events (created, 按钮_刷新模拟器 clicked, 按钮_一键生成快照 clicked), and the control operations
// the rest of the program uses. Texts go in and come out as GBK; the controls are fed through
// the wide-character API with code page 936, so the window reads the same on every system.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "win/unique_resource.h"

// The controls in tab order, which is also their z-order from top to bottom.
enum class Control : int {
    透明标签5,
    单选框2,
    单选框1,
    编辑框_日志,
    按钮_刷新模拟器,
    按钮_一键生成快照,
    透明标签4,
    编辑框_数量,
    编辑框2,
    透明标签3,
    组合框1,
    透明标签2,
    编辑框_模拟器目录,
    透明标签1,
};
inline constexpr int kControlCount = 14;

// The window's title, GBK: "Tarvex逍遥模拟器多开快照工具一键版".
extern const char* const kMainWindowTitle;

class MainWindow;

// Handlers of the three bound events; an empty one is simply not called.
struct MainWindowEvents {
    std::function<void(MainWindow&)> created;
    std::function<void(MainWindow&)> refresh_clicked;
    std::function<void(MainWindow&)> one_key_clicked;
};

class MainWindow {
public:
    MainWindow() = default;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;
    ~MainWindow() = default;  // destroys the window if it still exists

    // Creates the window and its controls, shows it centred on the screen, then raises the
    // created event and returns when its handler has finished. False when the window or one
    // of its controls cannot be created.
    bool Load(MainWindowEvents events);

    // Null once the window has been destroyed; every operation below then does nothing and
    // reads as empty.
    HWND hwnd() const { return window_.get(); }
    HWND ControlWindow(Control control) const;

    // Called on WM_CLOSE before the window is destroyed; returning false keeps the window
    // (for example while a long run still has to stop). Without a handler the window closes.
    void SetCloseRequestHandler(std::function<bool()> handler);

    // Edit boxes (and any control's caption).
    std::string Text(Control control) const;
    void SetText(Control control, const std::string& gbk);
    // Moves the caret to the end of 编辑框_日志, scrolls it into view and inserts the text there,
    // wherever the user had put the caret or selection.
    void AppendLog(const std::string& gbk);

    // 组合框1. Item indexes are 0-based.
    void ClearCombo();
    // Appends an item carrying `value`; its index, or -1 when the box refused it.
    int AddComboItem(const std::string& text, int32_t value);
    // Indexes above the last item are lowered to the last one, those below -1 raised to -1;
    // -1 selects nothing.
    void SelectComboItem(int index);
    int SelectedComboIndex() const;
    // The value stored with the item; -1 for an index outside the items.
    int32_t ComboItemValue(int index) const;

    // Radio buttons.
    bool IsChecked(Control control) const;

    // For every message loop and pump, before TranslateMessage/DispatchMessage: keyboard
    // navigation between the tab stops. True when the message has been handled (or dropped)
    // and must not be dispatched again.
    bool HandleDialogKeys(MSG& message);

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
    bool CreateControls();
    int IndexOf(HWND control) const;
    void OnActivate(WPARAM wparam);
    void MoveFocus(WPARAM wparam, LPARAM lparam);
    void RaiseEvent(const std::function<void(MainWindow&)>& handler);

    UniqueWindow window_;
    std::array<HWND, kControlCount> controls_{};
    HWND last_focus_ = nullptr;
    MainWindowEvents events_;
    std::function<bool()> close_request_;
};
