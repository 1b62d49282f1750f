// Process list and command-line reader on Windows.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "process/instance_scanner.h"
#include "process/known_command_lines.h"

class WinProcessSource : public ProcessSource {
public:
    std::vector<ProcessEntry> Snapshot() override;
    std::string ReadCommandLine(uint32_t pid) override;
};

// The console companion's process source: a process's command line in one call where the system
// answers it (Windows 8.1 and later), else read from the process's memory as above. A line once
// read is kept for as long as its process runs (a long-running service lists the same VMs over
// and over; a process's command line is set when it starts).
class QuickProcessSource : public WinProcessSource {
public:
    std::vector<ProcessEntry> Snapshot() override;
    std::string ReadCommandLine(uint32_t pid) override;
    // False once the system has refused the one call (it is then never asked again).
    bool OneCallAnswers() const { return !one_call_unsupported_; }

private:
    std::atomic<bool> one_call_unsupported_{false};
    KnownCommandLines known_;
};
