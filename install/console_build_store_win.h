// Manager console builds on Windows: bundled bytes from the program's resources and files
// supplied beside the program, verified against their size and SHA-256 before use; and the
// all-or-nothing file replacement.
#pragma once

#include <map>
#include <string>

#include "install/manager_console.h"
#include "install/side_file_builds.h"

// Lower-case hex SHA-256 of the bytes (Windows CNG); empty when hashing is unavailable.
std::string Sha256Hex(std::string_view bytes);

// True when the bytes have exactly the info's size and digest.
bool MatchesInfo(std::string_view bytes, const ConsoleBuildInfo& info);

// Builds embedded as RCDATA resources named by ConsoleBuildInfo::resource.
class ResourceBuildStore : public ConsoleBuildStore {
public:
    ConsoleBuild Find(const ConsoleBuildInfo& info) override;
};

// Builds held in memory, checked against the info passed in (tests use small builds with
// their own size and digest).
class MemoryBuildStore : public ConsoleBuildStore {
public:
    void Add(const std::string& version, std::string bytes) { builds_[version] = std::move(bytes); }
    ConsoleBuild Find(const ConsoleBuildInfo& info) override;

private:
    std::map<std::string, std::string> builds_;
};

// Reads files of one folder, given as a full path with its trailing backslash. An empty folder
// (the program's own path unknown) holds no files: names are never taken from the current
// directory.
class FolderFileReader : public FolderReader {
public:
    explicit FolderFileReader(std::wstring folder) : folder_(std::move(folder)) {}
    Result ReadAtMost(const std::string& name, uint64_t max_bytes, std::string& bytes) override;

private:
    std::wstring folder_;
};

// The builds both programs write: embedded ones first, then MEmuConsole-<version>.exe in the
// folder of the program's own .exe.
class ProgramBuildStore : public ConsoleBuildStore {
public:
    ProgramBuildStore();
    ConsoleBuild Find(const ConsoleBuildInfo& info) override { return store_.Find(info); }

private:
    ResourceBuildStore resources_;
    FolderFileReader folder_;
    SideFileBuildStore store_;
};

// Writes a temporary file beside the target and moves it over the target only once every
// byte is written and flushed, so the target is never left truncated or half-written. A target
// that is read-only or a folder is refused as Windows refuses to replace it (Wine would
// replace a read-only file).
class AtomicFileReplacer : public FileReplacer {
public:
    bool ReplaceWhole(const std::string& path, std::string_view bytes) override {
        return !Replace(path, bytes);
    }
    std::optional<std::string> Replace(const std::string& path, std::string_view bytes) override;
};
