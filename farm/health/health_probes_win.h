// The health probes on Windows: the system's process list (NtQuerySystemInformation), the
// window check (SendMessageTimeoutW with SMTO_ABORTIFHUNG), the system time and the cores.
#pragma once

#include "farm/health/health_probes.h"

class WinHealthProbes : public HealthProbes {
public:
    std::optional<std::vector<ProcessReading>> ProcessList() override;
    WindowAnswer AskWindow(int32_t window) override;
    int64_t SystemTime() override;
    int Cores() override;
};
