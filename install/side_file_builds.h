// Manager console builds supplied at run time: a file named "MEmuConsole-<version>.exe" in the
// program's own folder stands in for a build that is not embedded, and only when it is exactly
// the listed build (size and digest).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "install/manager_console.h"

// The files of one folder, read by name.
class FolderReader {
public:
    enum class Result { kAbsent, kRead, kUnreadable };
    virtual ~FolderReader() = default;
    // kRead with the file's first `max_bytes` bytes (all of it when it is shorter) in `bytes`;
    // kAbsent when there is no such file; kUnreadable when it exists but cannot be read.
    virtual Result ReadAtMost(const std::string& name, uint64_t max_bytes, std::string& bytes) = 0;
};

// True when the bytes are exactly the build: its size and its digest.
using BuildCheck = bool (*)(std::string_view bytes, const ConsoleBuildInfo& info);

// The embedded build when there is one; otherwise the side file, read whole into memory and
// handed out only when it passes the check. A side file's bytes stay valid until the next
// Find() of the same version.
class SideFileBuildStore : public ConsoleBuildStore {
public:
    SideFileBuildStore(ConsoleBuildStore& embedded, FolderReader& folder, BuildCheck matches)
        : embedded_(embedded), folder_(folder), matches_(matches) {}
    ConsoleBuild Find(const ConsoleBuildInfo& info) override;

private:
    ConsoleBuildStore& embedded_;
    FolderReader& folder_;
    BuildCheck matches_;
    std::map<std::string, std::string> side_files_;  // version -> bytes last read
};
