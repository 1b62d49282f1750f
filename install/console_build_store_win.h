// Manager console builds on Windows: bundled bytes from the program's resources, verified
// against their size and SHA-256 before use; and the all-or-nothing file replacement.
#pragma once

#include <map>
#include <string>

#include "install/manager_console.h"

// Lower-case hex SHA-256 of the bytes (Windows CNG); empty when hashing is unavailable.
std::string Sha256Hex(std::string_view bytes);

// True when the bytes have exactly the info's size and digest.
bool MatchesInfo(std::string_view bytes, const ConsoleBuildInfo& info);

// Builds embedded as RCDATA resources named by ConsoleBuildInfo::resource.
class ResourceBuildStore : public ConsoleBuildStore {
public:
    std::optional<std::string_view> Bytes(const ConsoleBuildInfo& info) override;
};

// Builds held in memory, checked against the info passed in (tests use small builds with
// their own size and digest).
class MemoryBuildStore : public ConsoleBuildStore {
public:
    void Add(const std::string& version, std::string bytes) { builds_[version] = std::move(bytes); }
    std::optional<std::string_view> Bytes(const ConsoleBuildInfo& info) override;

private:
    std::map<std::string, std::string> builds_;
};

// Writes a temporary file beside the target and moves it over the target only once every
// byte is written and flushed, so the target is never left truncated or half-written.
class AtomicFileReplacer : public FileReplacer {
public:
    bool ReplaceWhole(const std::string& path, std::string_view bytes) override;
};
