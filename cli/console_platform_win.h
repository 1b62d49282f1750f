// The control platform of the console companion: the window's platform, except that a
// console has no window to keep responsive (no pause per listed VM), and that every wait for a
// tool ends when the program's deadline passes (DeadlinePassed is thrown; the tool runs on).
#pragma once

#include <cstdint>
#include <optional>

#include "control/control_platform_win.h"

class ConsolePlatform : public WinControlPlatform {
public:
    // `deadline_tick`: the GetTickCount64 value after which no tool is waited for any more.
    explicit ConsolePlatform(std::optional<uint64_t> deadline_tick)
        : deadline_tick_(deadline_tick) {}

    std::string Run(const std::string& command, int timeout_ms = 0) override;
    void StartDetached(const std::string& command) override;
    void ResponsiveWaitOneMs() override {}

private:
    bool DeadlinePassedNow() const;

    std::optional<uint64_t> deadline_tick_;
};
