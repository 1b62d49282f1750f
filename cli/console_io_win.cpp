#include "cli/console_io_win.h"

#include <windows.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

// The screen Redraw draws on, and the last text drawn there.
std::mutex g_redraw_mutex;
UniqueFileHandle g_redraw_screen;
std::string g_redraw_text;

// Columns a character takes in a console: two for the wide (CJK, full-width) ones.
int CellsOf(wchar_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                   (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                   (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                   (c >= 0xFFE0 && c <= 0xFFE6)
               ? 2
               : 1;
}

// The line cut or padded with blanks to exactly `width` cells.
std::wstring FitToCells(std::wstring_view line, int width) {
    std::wstring fitted;
    int cells = 0;
    for (wchar_t c : line) {
        if (c == L'\r') continue;
        if (cells + CellsOf(c) > width) break;
        fitted += c;
        cells += CellsOf(c);
    }
    fitted.append(static_cast<size_t>(std::max(0, width - cells)), L' ');
    return fitted;
}

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

}  // namespace

std::string WithCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

void WinFarmConsole::Print(std::string_view text) {
    WriteText(STD_OUTPUT_HANDLE, WithCrLf(text));
}

void WinFarmConsole::PrintError(std::string_view text) {
    WriteText(STD_ERROR_HANDLE, WithCrLf(text));
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

bool WinFarmConsole::OutputIsConsole() {
    return IsConsole(GetStdHandle(STD_OUTPUT_HANDLE));
}

void WinFarmConsole::Redraw(std::string_view text) {
    std::lock_guard<std::mutex> lock(g_redraw_mutex);
    if (!g_redraw_screen) {
        UniqueFileHandle screen(CreateConsoleScreenBuffer(
            GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            CONSOLE_TEXTMODE_BUFFER, nullptr));
        if (!screen || !SetConsoleActiveScreenBuffer(screen.get())) {
            Print(text);
            return;
        }
        g_redraw_screen = std::move(screen);
    }
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(g_redraw_screen.get(), &info)) return;
    const int width = info.srWindow.Right - info.srWindow.Left + 1;
    const int height = info.srWindow.Bottom - info.srWindow.Top + 1;
    const std::wstring wide = WideFromGbk(text);
    std::vector<std::wstring_view> lines;
    for (size_t start = 0; start <= wide.size();) {
        const size_t end = std::min(wide.find(L'\n', start), wide.size());
        lines.push_back(std::wstring_view(wide).substr(start, end - start));
        start = end + 1;
    }
    // Every cell of the window is written, so what the last round showed is gone; nothing is
    // written past the window, so nothing scrolls.
    for (int y = 0; y < height; ++y) {
        const std::wstring row =
            FitToCells(y < static_cast<int>(lines.size()) ? lines[y] : L"", width);
        const COORD at = {info.srWindow.Left, static_cast<SHORT>(info.srWindow.Top + y)};
        DWORD written = 0;
        WriteConsoleOutputCharacterW(g_redraw_screen.get(), row.data(),
                                     static_cast<DWORD>(row.size()), at, &written);
    }
    g_redraw_text.assign(text);
}

void WinFarmConsole::EndRedraw() {
    std::string last;
    {
        std::lock_guard<std::mutex> lock(g_redraw_mutex);
        if (!g_redraw_screen) return;
        last.swap(g_redraw_text);
    }
    RestoreConsoleScreen();
    Print(last);
}

void RestoreConsoleScreen() {
    std::lock_guard<std::mutex> lock(g_redraw_mutex);
    if (!g_redraw_screen) return;
    SetConsoleActiveScreenBuffer(GetStdHandle(STD_OUTPUT_HANDLE));
    g_redraw_screen.reset();
}
