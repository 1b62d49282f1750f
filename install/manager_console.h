// Writing the manager console build that matches the checked version radio button.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "install/console_builds.h"

class ConsoleBuildStore {
public:
    virtual ~ConsoleBuildStore() = default;
    // The build's bytes when it is bundled and matches its size and digest; nothing otherwise.
    virtual std::optional<std::string_view> Bytes(const ConsoleBuildInfo& info) = 0;
};

class FileReplacer {
public:
    virtual ~FileReplacer() = default;
    // Replaces (or creates) the file with exactly `bytes`, all or nothing: on failure the old
    // file is left as it was.
    virtual bool ReplaceWhole(const std::string& path, std::string_view bytes) = 0;
};

struct ConsoleChoice {
    bool build_721_checked = false;  // 单选框1
    bool build_722_checked = false;  // 单选框2
};

// Writes the checked build(s) to install_dir + "MEmuConsole.exe". Returns the log lines to
// append: none when every write succeeded; one line for a build that is not bundled and one for
// a write that failed (the old file stays in both cases).
// The descriptions name what each radio button writes; tests pass small builds of their own.
std::vector<std::string> WriteManagerConsole(ConsoleChoice choice, const std::string& install_dir,
                                             ConsoleBuildStore& builds, FileReplacer& files,
                                             const ConsoleBuildInfo& info_721 = kConsoleBuild721,
                                             const ConsoleBuildInfo& info_722 = kConsoleBuild722);

std::string NotBundledLine(const ConsoleBuildInfo& info);
std::string WriteFailedLine(const ConsoleBuildInfo& info);
