// Manager console builds and file writes for tests: builds held by version, side files held by
// name, writes recorded.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "install/manager_console.h"
#include "install/side_file_builds.h"

class FakeBuilds : public ConsoleBuildStore {
public:
    std::map<std::string, std::string> bundled;  // version -> bytes
    ConsoleBuild Find(const ConsoleBuildInfo& info) override {
        auto it = bundled.find(info.version);
        if (it == bundled.end()) return {};
        return {std::string_view(it->second)};
    }
};

class FakeFiles : public FileReplacer {
public:
    bool fail = false;
    std::vector<std::pair<std::string, std::string>> writes;
    bool ReplaceWhole(const std::string& path, std::string_view bytes) override {
        if (fail) return false;
        writes.emplace_back(path, std::string(bytes));
        return true;
    }
};

class FakeFolder : public FolderReader {
public:
    std::map<std::string, std::string> files;  // name -> bytes
    std::set<std::string> unreadable;          // names that exist but cannot be read
    uint64_t last_limit = 0;
    Result ReadAtMost(const std::string& name, uint64_t max_bytes, std::string& bytes) override {
        last_limit = max_bytes;
        if (unreadable.count(name)) return Result::kUnreadable;
        auto it = files.find(name);
        if (it == files.end()) return Result::kAbsent;
        bytes = it->second.substr(0, max_bytes);
        return Result::kRead;
    }
};

// The fakes' check: a build's "digest" is its bytes themselves.
inline bool FakeMatches(std::string_view bytes, const ConsoleBuildInfo& info) {
    return bytes.size() == info.size && bytes == info.sha256_hex;
}
