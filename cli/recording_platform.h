// A control platform that passes every call on and keeps the command lines it ran with their
// output, so the console companion can show what an operation did even where the operation
// itself returns nothing.
#pragma once

#include <string>
#include <vector>

#include "control/control_platform.h"

class RecordingPlatform : public ControlPlatform {
public:
    struct Entry {
        std::string command;
        std::string output;     // empty for a detached start
        bool detached = false;  // started without waiting, nothing captured
    };

    explicit RecordingPlatform(ControlPlatform& inner) : inner_(inner) {}

    const std::vector<Entry>& entries() const { return entries_; }

    std::string Run(const std::string& command, int timeout_ms = 0) override;
    void StartDetached(const std::string& command) override;
    std::string CurrentDirectory() override { return inner_.CurrentDirectory(); }
    bool MakeDirectoryCurrent(const std::string& folder) override {
        return inner_.MakeDirectoryCurrent(folder);
    }
    bool FileExists(const std::string& path) override { return inner_.FileExists(path); }
    std::string DiscoverInstallDirectory() override { return inner_.DiscoverInstallDirectory(); }
    int32_t WindowWalk(int32_t window) override { return inner_.WindowWalk(window); }
    void ResponsiveWaitOneMs() override { inner_.ResponsiveWaitOneMs(); }
    int32_t TickCount() override { return inner_.TickCount(); }
    ProcessSource& Processes() override { return inner_.Processes(); }

private:
    ControlPlatform& inner_;
    std::vector<Entry> entries_;
};
