// The control module's platform on Windows: the command runner, detached starts, the current
// directory, install-location discovery, the window walk and the process scanner.
#pragma once

#include <cstdint>
#include <string>

#include "control/control_platform.h"
#include "process/process_source_win.h"

class WinControlPlatform : public ControlPlatform {
public:
    std::string Run(const std::string& command, int timeout_ms = 0) override;
    void StartDetached(const std::string& command) override;
    std::string CurrentDirectory() override;
    bool MakeDirectoryCurrent(const std::string& folder) override;
    bool FileExists(const std::string& path) override;
    std::string DiscoverInstallDirectory() override;
    int32_t WindowWalk(int32_t window) override;
    void ResponsiveWaitOneMs() override;
    int32_t TickCount() override;
    ProcessSource& Processes() override { return processes_; }

private:
    WinProcessSource processes_;
};

// The window walk of a listed VM window: child, next, child, child, next, next; 0 as soon as a
// step finds none.
int32_t WalkFromVmWindow(int32_t window);
