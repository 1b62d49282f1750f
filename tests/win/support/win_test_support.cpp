#include "support/win_test_support.h"

#include <windows.h>

std::string BinDir() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path);
    return s.substr(0, s.find_last_of('\\') + 1);
}

namespace {

struct BoxSearch {
    DWORD process_id;
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK MatchMessageBox(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<BoxSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    if (owner == search->process_id && IsWindowVisible(window) && lstrcmpW(cls, L"#32770") == 0 &&
        (!search->title || lstrcmpW(title, search->title) == 0)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND FindMessageBoxOf(DWORD process_id, const wchar_t* title) {
    BoxSearch search{process_id, title, nullptr};
    EnumWindows(MatchMessageBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}
