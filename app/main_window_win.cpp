#include "app/main_window.h"

#include <algorithm>
#include <string>

#include "app/control_table_win.h"
#include "app/fault_sites.h"
#include "app/integer_edit_win.h"
#include "app/resource_ids.h"
#include "win/wide_text.h"

namespace {

constexpr wchar_t kClassName[] = L"TarvexSnapshotToolWindow";
constexpr int kFirstControlId = 1001;  // clear of IDOK and IDCANCEL, which the keyboard sends

bool IsSingleLineEdit(const ControlRow& row) {
    return std::wstring_view(row.window_class) == L"Edit" && !(row.style & ES_MULTILINE);
}

bool IsComboBox(const ControlRow& row) {
    return std::wstring_view(row.window_class) == L"ComboBox";
}

bool IsEdit(const ControlRow& row) {
    return std::wstring_view(row.window_class) == L"Edit";
}

HICON LoadAppIcon(HINSTANCE instance, int size_metric_x, int size_metric_y) {
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kAppIconId), IMAGE_ICON,
                                         GetSystemMetrics(size_metric_x),
                                         GetSystemMetrics(size_metric_y), LR_SHARED));
}

bool RegisterWindowClass(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(instance, kClassName, &existing)) return true;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = procedure;
    wc.hInstance = instance;
    wc.hIcon = LoadAppIcon(instance, SM_CXICON, SM_CYICON);
    wc.hIconSm = LoadAppIcon(instance, SM_CXSMICON, SM_CYSMICON);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = kClassName;
    return RegisterClassExW(&wc) != 0;
}

// Height of a line of text in `font`.
int FontTextHeight(HFONT font) {
    HDC dc = GetDC(nullptr);
    if (!dc) return 0;
    HGDIOBJ previous = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
    return metrics.tmHeight;
}

std::wstring WindowText(HWND window) {
    if (!window) return {};
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// List items one pixel taller than the system's default. Some systems ignore CB_SETITEMHEIGHT
// for a combo box that is not owner-drawn; its list box then takes the height directly.
void RaiseComboItemHeight(HWND combo) {
    const LRESULT height = SendMessageW(combo, CB_GETITEMHEIGHT, 0, 0);
    if (height <= 0) return;
    SendMessageW(combo, CB_SETITEMHEIGHT, 0, height + 1);
    if (SendMessageW(combo, CB_GETITEMHEIGHT, 0, 0) == height + 1) return;
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    if (GetComboBoxInfo(combo, &info) && info.hwndList)
        SendMessageW(info.hwndList, LB_SETITEMHEIGHT, 0, height + 1);
}

}  // namespace

bool MainWindow::Load(MainWindowEvents events) {
    events_ = std::move(events);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!RegisterWindowClass(instance, Procedure)) return false;

    const int left = (GetSystemMetrics(SM_CXSCREEN) - kMainWindowWidth) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - kMainWindowHeight) / 2;
    // The procedure keeps the handle from WM_NCCREATE on.
    if (!CreateWindowExW(0, kClassName, WideFromGbk(kMainWindowTitle).c_str(), kMainWindowStyle,
                         left, top, kMainWindowWidth, kMainWindowHeight, nullptr, nullptr, instance,
                         this)) {
        return false;
    }
    // The window's own icons too, so the frame and the task switcher show them everywhere.
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadAppIcon(instance, SM_CXICON, SM_CYICON)));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(LoadAppIcon(instance, SM_CXSMICON, SM_CYSMICON)));
    if (!CreateControls()) {
        window_.reset();
        return false;
    }
    for (HWND control : controls_) ShowWindow(control, SW_SHOWNA);
    ShowWindow(hwnd(), SW_SHOW);
    UpdateWindow(hwnd());
    try {
        RaiseEvent(events_.created);
    } catch (...) {
        fatal::Raise(fatal::kNoCode, std::string(), fault_site::kMainWindowCreatedEvent);
    }
    return true;
}

bool MainWindow::CreateControls() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    const int min_edit_height = FontTextHeight(font) + 2 * GetSystemMetrics(SM_CYEDGE);

    // Last row first, as the form is built; the z-order is put right below.
    for (int i = kControlCount - 1; i >= 0; --i) {
        const ControlRow& row = kControlTable[static_cast<size_t>(i)];
        int height = row.height;
        if (IsSingleLineEdit(row)) height = std::max(height, min_edit_height);
        // A combo box's height at creation is the height of its drop-down list part.
        if (IsComboBox(row)) height = std::max(height, kMinComboListHeight);
        HWND control = CreateWindowExW(
            row.ex_style, row.window_class, WideFromGbk(row.text).c_str(), row.style, row.left,
            row.top, row.width, height, hwnd(),
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + i)), instance, nullptr);
        if (!control) return false;
        controls_[static_cast<size_t>(i)] = control;
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        // Lift the 32K default so a long run's log is never cut; 0 means the system's maximum.
        if (IsEdit(row)) SendMessageW(control, EM_SETLIMITTEXT, 0, 0);
    }

    // Table order from the top of the z-order down: this is also the tab order.
    HWND above = HWND_TOP;
    for (HWND control : controls_) {
        SetWindowPos(control, above, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        above = control;
    }

    RaiseComboItemHeight(ControlWindow(Control::组合框1));
    SendMessageW(ControlWindow(Control::单选框2), BM_SETCHECK, BST_CHECKED, 0);
    return MakeIntegerEdit(ControlWindow(Control::编辑框_数量));
}

HWND MainWindow::ControlWindow(Control control) const {
    return controls_[static_cast<size_t>(control)];
}

int MainWindow::IndexOf(HWND control) const {
    auto found = std::find(controls_.begin(), controls_.end(), control);
    return found == controls_.end() || !control ? -1 : static_cast<int>(found - controls_.begin());
}

void MainWindow::SetCloseRequestHandler(std::function<bool()> handler) {
    close_request_ = std::move(handler);
}

std::string MainWindow::Text(Control control) const {
    return GbkFromWide(WindowText(ControlWindow(control)));
}

void MainWindow::SetText(Control control, const std::string& gbk) {
    HWND window = ControlWindow(control);
    if (window) SetWindowTextW(window, WideFromGbk(gbk).c_str());
}

void MainWindow::AppendLog(const std::string& gbk) {
    HWND log = ControlWindow(Control::编辑框_日志);
    if (!log) return;
    const int end = GetWindowTextLengthW(log);
    SendMessageW(log, EM_SETSEL, end, end);
    SendMessageW(log, EM_SCROLLCARET, 0, 0);
    const std::wstring wide = WideFromGbk(gbk);
    SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
}

void MainWindow::ClearCombo() {
    HWND combo = ControlWindow(Control::组合框1);
    if (combo) SendMessageW(combo, CB_RESETCONTENT, 0, 0);
}

int MainWindow::AddComboItem(const std::string& text, int32_t value) {
    HWND combo = ControlWindow(Control::组合框1);
    if (!combo) return -1;
    const std::wstring wide = WideFromGbk(text);
    const LRESULT index =
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    if (index < 0) return -1;  // CB_ERR or CB_ERRSPACE
    if (SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(index),
                     static_cast<LPARAM>(value)) == CB_ERR) {
        SendMessageW(combo, CB_DELETESTRING, static_cast<WPARAM>(index), 0);
        return -1;
    }
    return static_cast<int>(index);
}

void MainWindow::SelectComboItem(int index) {
    HWND combo = ControlWindow(Control::组合框1);
    if (!combo) return;
    const int last = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0)) - 1;
    index = std::max(std::min(index, last), -1);
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int MainWindow::SelectedComboIndex() const {
    HWND combo = ControlWindow(Control::组合框1);
    if (!combo) return -1;
    const LRESULT index = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    return index < 0 ? -1 : static_cast<int>(index);
}

int32_t MainWindow::ComboItemValue(int index) const {
    HWND combo = ControlWindow(Control::组合框1);
    if (!combo || index < 0 || index >= static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0)))
        return -1;
    return static_cast<int32_t>(SendMessageW(combo, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}

bool MainWindow::IsChecked(Control control) const {
    HWND button = ControlWindow(control);
    return button && SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool MainWindow::HandleDialogKeys(MSG& message) {
    if (!hwnd()) return false;
    // The dialog manager makes a multi-line edit box close its parent on Escape; in the log
    // that would end the program on a stray key, so Escape is dropped there.
    if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE &&
        message.hwnd == ControlWindow(Control::编辑框_日志)) {
        return true;
    }
    return IsDialogMessageW(hwnd(), &message) != FALSE;
}

void MainWindow::RaiseEvent(const std::function<void(MainWindow&)>& handler) {
    if (handler) handler(*this);
}

// A plain window has no dialog manager to keep the focus on a control across activation:
// remember the focused control when the window is left and give it back on return.
void MainWindow::OnActivate(WPARAM wparam) {
    if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd(), focus)) last_focus_ = focus;
        return;
    }
    if (HIWORD(wparam)) return;  // minimised
    HWND target = last_focus_ && IsChild(hwnd(), last_focus_)
                      ? last_focus_
                      : GetNextDlgTabItem(hwnd(), nullptr, FALSE);
    if (target) SetFocus(target);
}

// WM_NEXTDLGCTL: the control named by `wparam` when LOWORD(lparam) is set, otherwise the next
// (wparam 0) or previous tab stop. An edit box reached this way has its text selected.
void MainWindow::MoveFocus(WPARAM wparam, LPARAM lparam) {
    HWND target = LOWORD(lparam) ? reinterpret_cast<HWND>(wparam)
                                 : GetNextDlgTabItem(hwnd(), GetFocus(), wparam != 0);
    if (!target || !IsChild(hwnd(), target)) return;
    SetFocus(target);
    if (SendMessageW(target, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
        SendMessageW(target, EM_SETSEL, 0, -1);
}

LRESULT CALLBACK MainWindow::Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    try {
        if (message == WM_NCCREATE) {
            auto* self =
                static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
            self->window_.reset(hwnd);
        }
        auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (!self) return DefWindowProcW(hwnd, message, wparam, lparam);
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            self->window_.release();
            self->controls_.fill(nullptr);
            self->last_focus_ = nullptr;
            return DefWindowProcW(hwnd, message, wparam, lparam);
        }
        return self->Handle(message, wparam, lparam);
    } catch (...) {
        fatal::Raise(fatal::kNoCode, std::string(), fault_site::kMainWindowProcedure);
    }
}

LRESULT MainWindow::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wparam) == BN_CLICKED) {
                const int index = IndexOf(reinterpret_cast<HWND>(lparam));
                if (index == static_cast<int>(Control::按钮_刷新模拟器))
                    RaiseEvent(events_.refresh_clicked);
                if (index == static_cast<int>(Control::按钮_一键生成快照))
                    RaiseEvent(events_.one_key_clicked);
            }
            return 0;
        case WM_CTLCOLORSTATIC: {
            // Labels and radio buttons: their own text colour drawn straight over the face.
            const int index = IndexOf(reinterpret_cast<HWND>(lparam));
            if (index < 0) break;
            HDC dc = reinterpret_cast<HDC>(wparam);
            SetTextColor(dc, kControlTable[static_cast<size_t>(index)].text_colour);
            SetBkMode(dc, TRANSPARENT);
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        case WM_ACTIVATE:
            OnActivate(wparam);
            return 0;
        case WM_NEXTDLGCTL:
            // Sent by a multi-line edit box for Tab, as the dialog manager would handle it.
            MoveFocus(wparam, lparam);
            return 0;
        case WM_CLOSE:
            if (close_request_ && !close_request_()) return 0;
            DestroyWindow(hwnd());
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd(), message, wparam, lparam);
}
