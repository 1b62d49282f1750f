// Turning the texts of a parsed command into what the control module puts on its command
// lines: local paths made absolute and quoted as one argument, adb's arguments joined, and
// every text escaped for cmd.exe. Refuses a text that cannot pass through cmd.exe unchanged.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "cli/cmd_escape.h"
#include "cli/farm_args.h"

// Absolute form of a local path, taken from the current folder when the program started.
using FullPathOf = std::function<std::string(const std::string& path)>;

// Rewrites request.texts in place. Returns the message of a refused text, or nothing.
std::optional<std::string> PrepareTexts(FarmRequest& request, const cmdline::ShellFacts& facts,
                                        const FullPathOf& full_path);
