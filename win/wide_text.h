// Conversions between the program's GBK texts and the wide-character API. The code page is
// always 936, never CP_ACP, so the window reads the same on every system code page.
#pragma once

#include <optional>
#include <string>
#include <string_view>

std::wstring WideFromGbk(std::string_view gbk);
std::string GbkFromWide(std::wstring_view wide);

// As GbkFromWide, but nothing when a character has no GBK form (instead of a '?' in its place).
std::optional<std::string> GbkFromWideExact(std::wstring_view wide);

// UTF-8 and the wide form of the system's ANSI code page, for output only.
std::string Utf8FromWide(std::wstring_view wide);
std::wstring WideFromUtf8(std::string_view utf8);
std::string AnsiFromWide(std::wstring_view wide);
