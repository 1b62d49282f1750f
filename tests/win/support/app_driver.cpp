#include "support/app_driver.h"

#include "support/win_test_support.h"
#include "win/wide_text.h"

std::string AppTitle() {
    return "Tarvex逍遥模拟器多开快照工具一键版";
}

AppDriver::~AppDriver() {
    if (Running()) {
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 5000);
    }
}

bool AppDriver::Start(int expected_vms) {
    std::wstring exe = WideFromGbk(BinDir() + "MEmuSnapshotTool.exe");
    std::wstring command = L"\"" + exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi))
        return false;
    process_.reset(pi.hProcess);
    CloseHandle(pi.hThread);
    pid_ = pi.dwProcessId;
    // The window is shown once loading (discovery and the VM list) is done.
    WaitForInputIdle(process_.get(), 20000);
    const std::wstring title = WideFromGbk(AppTitle());
    bool shown = WaitUntil(
        [&] {
            HWND w = FindWindowW(nullptr, title.c_str());
            DWORD owner = 0;
            if (w) GetWindowThreadProcessId(w, &owner);
            if (w && owner == pid_ && IsWindowVisible(w)) window_ = w;
            return window_ != nullptr;
        },
        20000);
    if (!shown) return false;
    if (expected_vms == 0) {
        Sleep(1500);  // nothing to wait for: give the empty listing time to finish
        return ComboCount() == 0;
    }
    return WaitUntil([&] { return ComboCount() == expected_vms; }, 20000);
}

HWND AppDriver::Control(AppControl which) const {
    HWND child = GetWindow(window_, GW_CHILD);
    for (int i = 1; child && i < static_cast<int>(which); ++i)
        child = GetWindow(child, GW_HWNDNEXT);
    return child;
}

std::string AppDriver::Text(AppControl which) const {
    HWND control = Control(which);
    LRESULT length = SendMessageW(control, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT got =
        SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(got));
    return GbkFromWide(text);
}

void AppDriver::SetText(AppControl which, const std::string& gbk) {
    SendMessageW(Control(which), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(WideFromGbk(gbk).c_str()));
}

int AppDriver::ComboCount() const {
    return static_cast<int>(SendMessageW(Control(AppControl::kVmList), CB_GETCOUNT, 0, 0));
}

void AppDriver::SelectCombo(int index) {
    SendMessageW(Control(AppControl::kVmList), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void AppDriver::Click(AppControl which) {
    PostMessageW(Control(which), BM_CLICK, 0, 0);
}

bool AppDriver::WaitForLogEnding(const std::string& ending, int timeout_ms, size_t longer_than) {
    return WaitUntil(
        [&] {
            std::string log = Text(AppControl::kLog);
            return log.size() > longer_than && log.size() >= ending.size() &&
                   log.compare(log.size() - ending.size(), ending.size(), ending) == 0;
        },
        timeout_ms);
}

HWND AppDriver::FindMessageBox() const {
    return FindMessageBoxOf(pid_);
}

void AppDriver::Close() {
    PostMessageW(window_, WM_CLOSE, 0, 0);
}

long AppDriver::WaitForExit(int timeout_ms) {
    if (WaitForSingleObject(process_.get(), static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0)
        return -2;
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return static_cast<long>(code);
}

bool AppDriver::Running() const {
    return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}
