#include "win/program_folder.h"

#include <windows.h>

std::wstring ProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring ProgramFolder() {
    const std::wstring path = ProgramPath();
    const size_t last_backslash = path.find_last_of(L'\\');
    if (last_backslash == std::wstring::npos) return {};
    return path.substr(0, last_backslash + 1);
}
