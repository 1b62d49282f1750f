// What the console companion learns from the system before it runs anything: its arguments as
// GBK texts, absolute paths, and the facts that decide how cmd.exe treats a text.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/cmd_escape.h"

// The arguments after the program name as GBK texts; nothing when one of them holds a
// character GBK cannot write (`bad` then names it).
std::optional<std::vector<std::string>> ArgumentsAsGbk(int argc, wchar_t** argv, std::string* bad);

// The absolute form of a path, from the current folder.
std::string FullPath(const std::string& path);

// The environment's variables and the command processor's DelayedExpansion setting (the
// current user's value wins over the machine's).
cmdline::ShellFacts SystemShellFacts();
