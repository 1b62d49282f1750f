// Process list and command-line reader on Windows.
#pragma once

#include "process/instance_scanner.h"

class WinProcessSource : public ProcessSource {
public:
    std::vector<ProcessEntry> Snapshot() override;
    std::string ReadCommandLine(uint32_t pid) override;
};
