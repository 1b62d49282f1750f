// A scripted ControlPlatform for the control module's tests: records every call in order and
// answers captured runs from a queue of canned replies.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "control/control_platform.h"

struct RecordedRun {
    std::string line;
    int timeout_ms = 0;
    bool captured = true;  // false: started detached

    bool operator==(const RecordedRun&) const = default;
};

class FakeProcessSource : public ProcessSource {
public:
    std::vector<ProcessEntry> entries;
    std::map<uint32_t, std::string> command_lines;
    int snapshots = 0;
    std::map<uint32_t, int> reads;  // command-line reads per pid

    void AddHeadless(uint32_t pid, const std::string& command_line) {
        entries.push_back({pid, "MEmuHeadless.exe"});
        command_lines[pid] = command_line;
    }
    std::vector<ProcessEntry> Snapshot() override {
        ++snapshots;
        return entries;
    }
    std::string ReadCommandLine(uint32_t pid) override {
        ++reads[pid];
        auto found = command_lines.find(pid);
        return found == command_lines.end() ? std::string() : found->second;
    }
};

class FakeControlPlatform : public ControlPlatform {
public:
    // Every call, in order: "cwd", "discover", "cd <folder>", "exists <path>", "run <line>",
    // "detached <line>", "walk <window>", "wait", "tick".
    std::vector<std::string> events;
    std::vector<RecordedRun> runs;
    std::deque<std::string> replies;  // one per captured run; empty reply when none is left

    std::string current_dir = "C:\\Program";
    std::string discovered = "C:\\MEmu\\";
    bool change_succeeds = true;
    std::set<std::string> existing_files;
    int32_t tick = 0;
    FakeProcessSource processes;

    std::string Run(const std::string& command, int timeout_ms = 0) override {
        events.push_back("run " + command);
        runs.push_back({command, timeout_ms, true});
        if (replies.empty()) return {};
        std::string reply = replies.front();
        replies.pop_front();
        return reply;
    }
    void StartDetached(const std::string& command) override {
        events.push_back("detached " + command);
        runs.push_back({command, 0, false});
    }
    std::string CurrentDirectory() override {
        events.push_back("cwd");
        return current_dir;
    }
    bool MakeDirectoryCurrent(const std::string& folder) override {
        events.push_back("cd " + folder);
        if (!change_succeeds || folder.empty()) return false;
        current_dir = folder;
        if (current_dir.size() > 3 && current_dir.back() == '\\') current_dir.pop_back();
        return true;
    }
    bool FileExists(const std::string& path) override {
        events.push_back("exists " + path);
        return existing_files.count(path) != 0;
    }
    std::string DiscoverInstallDirectory() override {
        events.push_back("discover");
        return discovered;
    }
    int32_t WindowWalk(int32_t window) override {
        events.push_back("walk " + std::to_string(window));
        return window + 1;
    }
    void ResponsiveWaitOneMs() override { events.push_back("wait"); }
    int32_t TickCount() override {
        events.push_back("tick");
        return tick;
    }
    ProcessSource& Processes() override { return processes; }

    int Count(const std::string& event) const {
        int n = 0;
        for (const std::string& e : events) n += e == event;
        return n;
    }
    void Forget() {
        events.clear();
        runs.clear();
    }
};
