// Shared helpers for the Windows-side tests.
#pragma once

#include <string>

// Folder of the running test executable, with a trailing backslash (the build's bin\ folder,
// which also holds the program and the simulated emulator tools).
std::string BinDir();
