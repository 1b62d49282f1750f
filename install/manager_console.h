// Writing the manager console build that matches the checked version radio button.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "install/console_builds.h"

// What a store has for one build.
struct ConsoleBuild {
    // The build's bytes, exactly the listed size and digest; nothing when there are none.
    std::optional<std::string_view> bytes;
    // No bytes because the file supplied beside the program is not this build (another size
    // or digest, or it cannot be read). Such a file is never written.
    bool side_file_refused = false;
};

class ConsoleBuildStore {
public:
    virtual ~ConsoleBuildStore() = default;
    virtual ConsoleBuild Find(const ConsoleBuildInfo& info) = 0;
};

class FileReplacer {
public:
    virtual ~FileReplacer() = default;
    // Replaces (or creates) the file with exactly `bytes`, all or nothing: on failure the old
    // file is left as it was.
    virtual bool ReplaceWhole(const std::string& path, std::string_view bytes) = 0;
    // The same, saying why it failed; nothing when it succeeded.
    virtual std::optional<std::string> Replace(const std::string& path, std::string_view bytes) {
        if (ReplaceWhole(path, bytes)) return std::nullopt;
        return path + " could not be written";
    }
};

struct ConsoleChoice {
    bool build_721_checked = false;  // 单选框1
    bool build_722_checked = false;  // 单选框2
};

// Writes the checked build(s) to install_dir + "MEmuConsole.exe". Returns the log lines to
// append: none when every write succeeded; one line for a build that is missing (not bundled,
// or its side file refused) and one for a write that failed (the old file stays in each case).
// The descriptions name what each radio button writes; tests pass small builds of their own.
std::vector<std::string> WriteManagerConsole(ConsoleChoice choice, const std::string& install_dir,
                                             ConsoleBuildStore& builds, FileReplacer& files,
                                             const ConsoleBuildInfo& info_721 = kConsoleBuild721,
                                             const ConsoleBuildInfo& info_722 = kConsoleBuild722);

// The name under which a build may be supplied beside the program: "MEmuConsole-7.2.1.exe".
std::string SideFileName(const ConsoleBuildInfo& info);

std::string NotBundledLine(const ConsoleBuildInfo& info);
std::string SideFileRefusedLine(const ConsoleBuildInfo& info);
// The line for a build the store has no bytes of: one of the two above.
std::string MissingBuildLine(const ConsoleBuild& found, const ConsoleBuildInfo& info);
std::string WriteFailedLine(const ConsoleBuildInfo& info);
