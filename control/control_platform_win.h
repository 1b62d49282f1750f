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

protected:
    // The detached start. `apart_from_console`: the tool gets no standard handles and a hidden
    // console of its own, so a console program that started it neither shares its console nor
    // has its output written into by a tool that outlives it.
    static void StartDetachedLine(const std::string& command, bool apart_from_console);

private:
    WinProcessSource processes_;
};
