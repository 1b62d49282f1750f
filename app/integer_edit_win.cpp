#include "app/integer_edit_win.h"

#include <commctrl.h>

#include <string>

#include "app/fault_sites.h"
#include "app/integer_input.h"
#include "win/system_function.h"
#include "win/wide_text.h"

namespace {

constexpr UINT_PTR kSubclassId = 1;

// The common controls' subclassing, looked up at run time like the rest of comctl32.dll (see
// SystemLibrary for where it comes from).
SystemFunction<decltype(&SetWindowSubclass)> set_window_subclass("comctl32.dll",
                                                                 "SetWindowSubclass");
SystemFunction<decltype(&RemoveWindowSubclass)> remove_window_subclass("comctl32.dll",
                                                                       "RemoveWindowSubclass");
SystemFunction<decltype(&DefSubclassProc)> def_subclass_proc("comctl32.dll", "DefSubclassProc");

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Rewrites the text only when normalising changes it, then puts the caret where the
// selection started.
void Normalise(HWND edit) {
    const std::string current = GbkFromWide(WindowText(edit));
    const std::string normalised = NormalisedIntegerText(current);
    if (normalised == current) return;
    DWORD selection_start = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&selection_start), 0);
    SetWindowTextW(edit, WideFromGbk(normalised).c_str());
    SendMessageW(edit, EM_SETSEL, selection_start, selection_start);
}

LRESULT CALLBACK IntegerEditProcedure(HWND edit, UINT message, WPARAM wparam, LPARAM lparam,
                                      UINT_PTR, DWORD_PTR) {
    try {
        switch (message) {
            case WM_CHAR:
                if (!IsIntegerInputCharacter(static_cast<unsigned int>(wparam))) return 0;
                break;
            case WM_KILLFOCUS: {
                LRESULT result = def_subclass_proc.Get()(edit, message, wparam, lparam);
                Normalise(edit);
                return result;
            }
            case WM_NCDESTROY:
                remove_window_subclass.Get()(edit, IntegerEditProcedure, kSubclassId);
                break;
            default:
                break;
        }
        return def_subclass_proc.Get()(edit, message, wparam, lparam);
    } catch (...) {
        fatal::Raise(fatal::kNoCode, std::string(), fault_site::kIntegerEditProcedure);
    }
}

}  // namespace

bool MakeIntegerEdit(HWND edit) {
    // All three or none: a subclass that could not be removed or passed on is not installed.
    if (!set_window_subclass.TryGet() || !remove_window_subclass.TryGet() ||
        !def_subclass_proc.TryGet())
        return false;
    return set_window_subclass.Get()(edit, IntegerEditProcedure, kSubclassId, 0) != FALSE;
}
