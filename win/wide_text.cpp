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

std::optional<std::string> GbkFromWideExact(std::wstring_view wide) {
    if (wide.empty()) return std::string();
    const int length = static_cast<int>(wide.size());
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0,
                                nullptr, &lossy);
    if (n <= 0 || lossy) return std::nullopt;
    std::string gbk(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, wide.data(), length, gbk.data(), n, nullptr,
                        nullptr);
    return gbk;
}

namespace {

std::string NarrowFromWide(UINT code_page, std::wstring_view wide) {
    if (wide.empty()) return {};
    const int length = static_cast<int>(wide.size());
    int n = WideCharToMultiByte(code_page, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string narrow(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(code_page, 0, wide.data(), length, narrow.data(), n, nullptr, nullptr);
    return narrow;
}

}  // namespace

std::string Utf8FromWide(std::wstring_view wide) {
    return NarrowFromWide(CP_UTF8, wide);
}

std::string AnsiFromWide(std::wstring_view wide) {
    return NarrowFromWide(CP_ACP, wide);
}

std::wstring WideFromUtf8(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int length = static_cast<int>(utf8.size());
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), n);
    return wide;
}
