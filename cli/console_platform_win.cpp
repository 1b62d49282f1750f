#include "cli/console_platform_win.h"

#include <windows.h>

#include "cli/farm_console.h"
#include "process/command_runner_win.h"

bool ConsolePlatform::DeadlinePassedNow() const {
    return deadline_tick_ && GetTickCount64() >= *deadline_tick_;
}

std::string ConsolePlatform::Run(const std::string& command, int timeout_ms) {
    if (DeadlinePassedNow()) throw DeadlinePassed{command, {}};
    bool abandoned = false;
    std::string output = RunCommandUntil(
        command, [this] { return DeadlinePassedNow(); }, &abandoned, timeout_ms);
    if (abandoned) throw DeadlinePassed{command, std::move(output)};
    return output;
}

void ConsolePlatform::StartDetached(const std::string& command) {
    if (DeadlinePassedNow()) throw DeadlinePassed{command, {}};
    StartDetachedLine(command, /*apart_from_console=*/true);
}
