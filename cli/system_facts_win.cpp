#include "cli/system_facts_win.h"

#include <windows.h>

#include "win/wide_text.h"

std::optional<std::vector<std::string>> ArgumentsAsGbk(int argc, wchar_t** argv, std::string* bad) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::optional<std::string> gbk = GbkFromWideExact(argv[i]);
        if (!gbk) {
            if (bad)
                *bad = "argument " + std::to_string(i) + " (" + GbkFromWide(argv[i]) +
                       ") holds characters that the emulator's tools cannot receive (code page "
                       "936)";
            return std::nullopt;
        }
        args.push_back(std::move(*gbk));
    }
    return args;
}

std::string FullPath(const std::string& path) {
    const std::wstring wide = WideFromGbk(path);
    if (wide.empty()) return path;
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) return path;
        if (n < full.size()) {
            full.resize(n);
            return GbkFromWide(full);
        }
        full.resize(n);
    }
}
