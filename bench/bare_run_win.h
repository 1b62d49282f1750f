// The reference the benchmarks compare against: the plainest way to run a command line and
// capture its output (one CreateProcessW with a pipe, blocking ReadFile until the pipe breaks,
// then WaitForSingleObject), with none of the program runner's polling or message pumping.
#pragma once

#include <string>

// Runs "cmd.exe /c " + command hidden in the current directory and returns everything it
// wrote to stdout and stderr.
std::string BareRun(const std::string& command);

// Starts the line's tool (its first word) from `folder` directly, with `folder` as its current
// folder, and returns everything it wrote.
std::string BareDirectRun(const std::string& folder, const std::string& line);
