// Conversions between the program's GBK texts and the wide-character API. The code page is
// always 936, never CP_ACP, so the window reads the same on every system code page.
#pragma once

#include <string>
#include <string_view>

std::wstring WideFromGbk(std::string_view gbk);
std::string GbkFromWide(std::wstring_view wide);
