#include "app/fatal_box_win.h"

#include <windows.h>

#include "app/end_routine.h"
#include "text/fatal_error.h"
#include "win/wide_text.h"

namespace {

constexpr UINT kAllBitsSet = 0xFFFFFFFF;  // exit code -1

[[noreturn]] void ShowBoxAndEnd(int code, const std::string& message, fatal::Site site) {
    // A fault raised while the box is up (a message handled by its loop, or building the text
    // when memory has run out) ends the process at once instead of stacking boxes.
    static bool box_shown = false;
    if (!box_shown) {
        box_shown = true;
        const std::wstring text = WideFromGbk(fatal::BuildMessage(code, message, site));
        // Task-modal: the program's window takes no clicks while the box is up, so no event
        // handler starts new work on top of the fault.
        MessageBoxW(nullptr, text.c_str(), L"错误", MB_ICONERROR | MB_OK | MB_TASKMODAL);
    }
    end_routine::Drop();
    ExitProcess(kAllBitsSet);
}

}  // namespace

void InstallFatalBox() {
    fatal::SetHandler(ShowBoxAndEnd);
}
