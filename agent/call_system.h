// The farm's system as one tool call sees it: the server's system, with the call's stop
// standing in for Ctrl+C (nothing new starts; what runs is waited for, for a short grace,
// then left running), the server's cap on the call's time, the tool starts of every call
// bounded by one shared gate, and each tool step told to the call's log.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>

#include "farm/run/farm_system.h"

namespace agent {

// At most `slots` tool starts in flight at once, across every call of a server.
class StartGate {
public:
    explicit StartGate(int slots) : slots_(slots < 1 ? 1 : slots) {}
    // Waits for a slot, asking `give_up` now and then; false when it said so first.
    bool Enter(const std::function<bool()>& give_up);
    void Leave();
    int Peak() const { return peak_.load(); }

private:
    const int slots_;
    std::mutex mutex_;
    std::condition_variable freed_;
    int in_flight_ = 0;
    std::atomic<int> peak_{0};
};

// How long a stopped call still waits for a tool that runs before it is left running, on the
// system's clock: as long as the window waits after a stop.
inline constexpr double kStopGraceSeconds = 3;

// Told of each tool step: its command line as it starts, and its failure as it ends.
struct StepLog {
    std::function<void(const std::string& gbk_line)> started;
    std::function<void(const std::string& gbk_line, const std::string& gbk_why)> failed;
};

class CallSystem : public FarmSystem, private ToolRunner {
public:
    // `cap_seconds`: the call's whole time, from now; past it nothing new starts.
    CallSystem(FarmSystem& system, StartGate& gate, std::stop_token stop, double cap_seconds,
               StepLog log);

    ToolRunner& Tools() override { return *this; }
    ProcessSource& Processes() override { return system_.Processes(); }
    int32_t WindowWalk(int32_t window) override { return system_.WindowWalk(window); }
    bool FileExists(const std::string& path) override { return system_.FileExists(path); }
    std::string FileStart(const std::string& path, size_t size) override {
        return system_.FileStart(path, size);
    }
    std::optional<std::string> RemoveFile(const std::string& path) override {
        return system_.RemoveFile(path);
    }
    DeviceChannel& Devices() override { return system_.Devices(); }
    std::string DiscoverInstallDirectory() override { return system_.DiscoverInstallDirectory(); }
    ConsoleBuildStore& Builds() override { return system_.Builds(); }
    FileReplacer& Files() override { return system_.Files(); }
    HealthProbes& Probes() override { return system_.Probes(); }
    std::string Utf8FromGbk(std::string_view gbk) override { return system_.Utf8FromGbk(gbk); }
    int32_t TickCount() override { return system_.TickCount(); }
    double Now() override { return system_.Now(); }
    // Ends early once the call is stopped.
    void Sleep(double seconds) override;
    // The server's Ctrl+C, the call's cancellation, or the call's time is up.
    bool StopRequested() override;

private:
    ToolRun Run(const ToolCommand& command, const ToolRunOptions& options) override;
    ToolRun StartDetached(const ToolCommand& command) override;
    // Stopped for longer than the grace: a running tool is no longer waited for.
    bool PastGrace();
    bool Enter(const std::function<bool()>& give_up, ToolRun* refused);
    void Told(const ToolCommand& command, const ToolRun& run);

    FarmSystem& system_;
    StartGate& gate_;
    const std::stop_token stop_;
    const double cap_at_;
    const StepLog log_;
    std::mutex mutex_;
    std::optional<double> stopped_at_;
};

}  // namespace agent
