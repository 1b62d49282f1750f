// What the console companion learns from the system before it runs anything: its arguments as
// GBK texts, and absolute paths.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The arguments after the program name as GBK texts; nothing when one of them holds a
// character GBK cannot write (`bad` then names it).
std::optional<std::vector<std::string>> ArgumentsAsGbk(int argc, wchar_t** argv, std::string* bad);

// The absolute form of a path, from the current folder.
std::string FullPath(const std::string& path);
