#include "cli/console_io_win.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

#include "win/wide_text.h"

namespace {

std::atomic<bool> g_stop_requested{false};

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

void WriteWide(HANDLE handle, std::wstring_view text) {
    // Console writes are kept to moderate pieces: older consoles refuse very long ones.
    constexpr size_t kPiece = 8192;
    while (!text.empty()) {
        const DWORD part = static_cast<DWORD>(std::min(text.size(), kPiece));
        DWORD written = 0;
        if (!WriteConsoleW(handle, text.data(), part, &written, nullptr) || written == 0) return;
        text.remove_prefix(written);
    }
}

void WriteBytes(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD part = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), part, &written, nullptr) || written == 0) return;
        bytes.remove_prefix(written);
    }
}

void WriteText(DWORD which, std::string_view gbk) {
    HANDLE handle = GetStdHandle(which);
    if (IsConsole(handle)) {
        WriteWide(handle, WideFromGbk(gbk));
    } else if (GetACP() == 936) {
        WriteBytes(handle, gbk);
    } else {
        WriteBytes(handle, AnsiFromWide(WideFromGbk(gbk)));
    }
}

BOOL WINAPI OnInterrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (g_stop_requested.exchange(true)) return FALSE;  // the second one ends the program
    WriteText(STD_ERROR_HANDLE,
              "MEmuFarm: stopping after the current command (Ctrl+C again ends at once; the tool "
              "is left running).\r\n");
    return TRUE;
}

}  // namespace

void WinFarmConsole::Print(std::string_view text) {
    WriteText(STD_OUTPUT_HANDLE, text);
}

void WinFarmConsole::PrintError(std::string_view text) {
    WriteText(STD_ERROR_HANDLE, text);
}

void WinFarmConsole::PrintJson(std::string_view utf8) {
    HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    if (IsConsole(handle)) {
        WriteWide(handle, WideFromUtf8(utf8));
    } else {
        WriteBytes(handle, utf8);
    }
}

std::string WinFarmConsole::Utf8FromGbk(std::string_view text) {
    return Utf8FromWide(WideFromGbk(text));
}

bool WinFarmConsole::StopRequested() {
    return g_stop_requested.load();
}

void WinFarmConsole::CatchInterrupts() {
    SetConsoleCtrlHandler(OnInterrupt, TRUE);
}
