// A FarmSystem for the console companion's core: its tools answer from a function of the
// line, every start is recorded with what it was given, and its clock is a fake one that only
// Sleep and a hanging tool move on (so no assertion depends on real time). Safe from several
// threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fake_adb_server.h"
#include "fake_console_builds.h"
#include "fake_control_platform.h"
#include "farm/run/farm_system.h"

struct StartedLine {
    std::string folder;
    std::string line;     // the command line
    std::string program;  // the program, as the runner was given it
    bool detached = false;
    int timeout_ms = 0;        // the run's time-out
    bool can_abandon = false;  // the run was given a way to stop waiting (a deadline)
};

class FakeToolRunner : public ToolRunner {
public:
    // The answer to a line; by default every line succeeds silently.
    std::function<ToolRun(const std::string& line)> answer = [](const std::string&) {
        return ToolRun{RunEnd::kExited, 0, "", ""};
    };
    // Lines holding this text hang until the run is abandoned (or forever, without one),
    // calling `waited` on every poll, as time passes for a tool that hangs.
    std::string hang_on;
    std::function<void()> waited = [] { std::this_thread::yield(); };

    ToolRun Run(const ToolCommand& command, const ToolRunOptions& options) override {
        const std::string line = command.CommandLine();
        Record({command.folder, line, command.program, false, options.timeout_ms,
                static_cast<bool>(options.abandon)});
        if (!hang_on.empty() && line.find(hang_on) != std::string::npos) {
            while (!(options.abandon && options.abandon())) waited();
            return {RunEnd::kAbandoned, 0, "partial", ""};
        }
        return answer(line);
    }
    ToolRun StartDetached(const ToolCommand& command) override {
        Record({command.folder, command.CommandLine(), command.program, true});
        return {RunEnd::kDetached, 0, "", ""};
    }

    std::vector<StartedLine> Started() {
        std::lock_guard<std::mutex> lock(mutex_);
        return started_;
    }
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        for (const StartedLine& started : Started()) lines.push_back(started.line);
        return lines;
    }

private:
    void Record(StartedLine started) {
        std::lock_guard<std::mutex> lock(mutex_);
        started_.push_back(std::move(started));
    }
    std::mutex mutex_;
    std::vector<StartedLine> started_;
};

// A reply that succeeds with `output`.
inline ToolRun Answer(std::string output, uint32_t exit_code = 0) {
    return {RunEnd::kExited, exit_code, std::move(output), ""};
}

// Health readings: the process list is `before` at the first look of a round and `after` at
// the second; windows answer as `windows` says (responding when not named); each look at the
// time moves it on by one second.
class FakeHealthProbes : public HealthProbes {
public:
    std::optional<std::vector<ProcessReading>> before = std::vector<ProcessReading>{};
    std::optional<std::vector<ProcessReading>> after = std::vector<ProcessReading>{};
    std::map<int32_t, WindowAnswer> windows;
    int cores = 2;
    std::atomic<int64_t> time{133000000000000000};  // 2022-06-17

    std::optional<std::vector<ProcessReading>> ProcessList() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return looks_++ % 2 == 0 ? before : after;
    }
    WindowAnswer AskWindow(int32_t window) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (window < 1) return WindowAnswer::kNone;
        const auto found = windows.find(window);
        return found == windows.end() ? WindowAnswer::kResponding : found->second;
    }
    int64_t SystemTime() override { return time.fetch_add(5000000); }
    int Cores() override { return cores; }

private:
    std::mutex mutex_;
    int looks_ = 0;
};

class FakeFarmSystem : public FarmSystem {
public:
    FakeToolRunner tools;
    FakeProcessSource processes;
    FakeBuilds builds;
    FakeFiles files;
    FakeHealthProbes probes;
    std::string discovered = "C:\\MEmu\\";
    std::set<std::string> existing_files = {"C:\\MEmu\\memuc.exe"};
    std::set<std::string> unremovable_files;  // existing files that RemoveFile cannot remove
    int32_t tick = 1234;
    std::atomic<bool> stop{false};  // Ctrl+C was pressed
    // The adb server on port 5037, on this system's clock; it starts listening when asked.
    FakeAdbServer adb{[this] { return Now(); },
                      [this](double until) { Sleep(std::max(0.0, until - Now())); }};
    DeviceChannel devices{adb, 5037, tools};

    // A tool that hangs lets a millisecond pass on each poll.
    FakeFarmSystem() {
        tools.waited = [this] { Sleep(0.001); };
    }

    ToolRunner& Tools() override { return tools; }
    ProcessSource& Processes() override { return processes; }
    int32_t WindowWalk(int32_t window) override {
        ++window_walks;
        return window + 1;
    }
    std::atomic<int> window_walks{0};
    bool FileExists(const std::string& path) override {
        const std::unique_ptr<WrittenFile> written = adb.File(path);
        if (written) return written->closed && !written->gone;
        std::lock_guard<std::mutex> lock(mutex_);
        return existing_files.count(path) != 0;
    }
    std::string FileStart(const std::string& path, size_t size) override {
        const std::unique_ptr<WrittenFile> written = adb.File(path);
        return written && !written->gone ? written->bytes.substr(0, size) : std::string();
    }
    std::optional<std::string> RemoveFile(const std::string& path) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            removed_.push_back(path);
            if (unremovable_files.count(path) != 0) return "Access is denied.";
            existing_files.erase(path);
        }
        adb.Remove(path);
        return std::nullopt;
    }
    // The paths RemoveFile was given, in order.
    std::vector<std::string> Removed() {
        std::lock_guard<std::mutex> lock(mutex_);
        return removed_;
    }
    DeviceChannel& Devices() override { return devices; }
    void AddFile(const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        existing_files.insert(path);
    }
    std::string DiscoverInstallDirectory() override { return discovered; }
    ConsoleBuildStore& Builds() override { return builds; }
    FileReplacer& Files() override { return files; }
    HealthProbes& Probes() override { return probes; }
    std::string Utf8FromGbk(std::string_view gbk) override { return std::string(gbk); }
    int32_t TickCount() override { return tick; }
    double Now() override { return skipped_.load(); }
    void Sleep(double seconds) override {
        double now = skipped_.load();
        while (!skipped_.compare_exchange_weak(now, now + seconds)) {
        }
    }
    bool StopRequested() override { return stop.load(); }

private:
    std::mutex mutex_;
    std::vector<std::string> removed_;
    std::atomic<double> skipped_{1000};
};
