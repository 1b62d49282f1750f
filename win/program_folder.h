// Where the running program's own file is, whatever the current directory.
#pragma once

#include <string>

// Full path of the program's .exe, however long; empty when it cannot be had.
std::wstring ProgramPath();

// Folder of the program's .exe with its trailing backslash (a drive's root stays "C:\");
// empty when it cannot be had.
std::wstring ProgramFolder();
