// Manager console builds and file writes for tests: builds held by version, writes recorded.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "install/manager_console.h"

class FakeBuilds : public ConsoleBuildStore {
public:
    std::map<std::string, std::string> bundled;  // version -> bytes
    std::optional<std::string_view> Bytes(const ConsoleBuildInfo& info) override {
        auto it = bundled.find(info.version);
        if (it == bundled.end()) return std::nullopt;
        return std::string_view(it->second);
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
