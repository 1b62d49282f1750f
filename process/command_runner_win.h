// The window's command runner: "cmd.exe /c " + command, hidden, stdout and stderr on one pipe,
// polled while the window thread keeps processing messages.
#pragma once

#include <functional>
#include <string>

#include "process/captured_run_win.h"

// timeout_ms below 1: no time-out. strip_line_ends removes every trailing "\r\n" pair.
std::string RunCommand(const std::string& command, int timeout_ms = 0,
                       OutputCallback callback = nullptr, bool strip_line_ends = false);

// As RunCommand with a time-out but no callback or strip flag, except that it also stops
// waiting once `abandon` returns true. Unlike the time-out, which is consulted only on polls
// that find no data, `abandon` is asked on every poll, so a tool that never stops writing is
// given up too. The child goes on unobserved. *abandoned tells whether that happened.
std::string RunCommandUntil(const std::string& command, const std::function<bool()>& abandon,
                            bool* abandoned, int timeout_ms = 0);
