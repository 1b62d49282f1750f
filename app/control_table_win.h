// The layout of the main window as data: one row per control, in tab order.
#pragma once

#include <windows.h>

#include <array>

#include "app/main_window.h"

struct ControlRow {
    Control id;
    const wchar_t* window_class;
    DWORD style;  // WS_VISIBLE is added once every control exists
    DWORD ex_style;
    int left, top, width, height;  // client-area pixels, never scaled
    const char* text;              // GBK
    COLORREF text_colour;          // used by labels and radio buttons
};

extern const std::array<ControlRow, kControlCount> kControlTable;

inline constexpr int kMainWindowWidth = 380;
inline constexpr int kMainWindowHeight = 392;
inline constexpr DWORD kMainWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// The drop-down list part of 组合框1 is at least this tall.
inline constexpr int kMinComboListHeight = 160;
