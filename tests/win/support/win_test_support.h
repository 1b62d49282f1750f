// Shared helpers for the Windows-side tests.
#pragma once

#include <windows.h>

#include <string>

// Folder of the running test executable, with a trailing backslash (the build's bin\ folder,
// which also holds the program and the simulated emulator tools).
std::string BinDir();

// A visible message box (dialog) of the process, titled `title` when it is not null; or null.
HWND FindMessageBoxOf(DWORD process_id, const wchar_t* title = nullptr);
