#include "win/wide_text.h"

#include <windows.h>

constexpr UINT kGbk = 936;

std::wstring WideFromGbk(std::string_view gbk) {
    if (gbk.empty()) return {};
    int n = MultiByteToWideChar(kGbk, 0, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(kGbk, 0, gbk.data(), static_cast<int>(gbk.size()), wide.data(), n);
    return wide;
}

std::string GbkFromWide(std::wstring_view wide) {
    if (wide.empty()) return {};
    int n = WideCharToMultiByte(kGbk, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                nullptr, nullptr);
    if (n <= 0) return {};
    std::string gbk(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(kGbk, 0, wide.data(), static_cast<int>(wide.size()), gbk.data(), n, nullptr,
                        nullptr);
    return gbk;
}
