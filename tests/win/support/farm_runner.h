// Runs the built MEmuFarm.exe as a script would, for the Windows-side tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/win_test_support.h"

struct FarmResult {
    DWORD code = 9999;  // 9999: did not end within the test's limit (it is then ended)
    std::string out;
    std::string err;
    ULONGLONG milliseconds = 0;
};

// Runs MEmuFarm.exe (the built one, or the one in `program_dir`) with the arguments (GBK),
// standard output and error into files, so that a tool it leaves running cannot hold the test
// up. It starts in `current_dir` when one is given.
FarmResult RunFarm(const std::vector<std::string>& args, DWORD limit_ms = 60000,
                   const std::string& program_dir = BinDir(),
                   const std::string& current_dir = std::string());

// Runs the built MEmuFarm.exe as a caller that captures its output does (PowerShell's
// `$out = & ...`, Python's capture_output): standard output and error through two pipes, read
// until both have ended. `milliseconds` is when the later of the two ended, from the start; a
// pipe still open at `limit_ms` stops the wait there. The program, if still running then, is
// ended (`code` 9999).
FarmResult RunFarmPiped(const std::vector<std::string>& args, DWORD limit_ms);

// The whole file, or empty.
std::string ReadWhole(const std::string& path);
