// Finding the "MEmuHeadless.exe" process that runs the VM with a given index.
//
// Portable: the process list and the command-line reader come through ProcessSource, whose
// Win32 implementation takes a Toolhelp snapshot and reads the target's PEB.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ProcessEntry {
    uint32_t pid = 0;
    std::string exe_name;  // file name only, as the snapshot reports it
};

class ProcessSource {
public:
    virtual ~ProcessSource() = default;
    // All processes, in snapshot order.
    virtual std::vector<ProcessEntry> Snapshot() = 0;
    // The process's command line as GBK text; empty when any step fails.
    virtual std::string ReadCommandLine(uint32_t pid) = 0;
};

// Marker extraction: the text between the first `start_marker` (searched from `start`,
// 1-based) and the next `end_marker` after it; empty when either is missing. "#引号" in a
// marker stands for a double quote.
std::string ExtractBetween(const std::string& text, const std::string& start_marker,
                           const std::string& end_marker, int start = 1, bool ignore_case = false);

// VM number of a headless command line: text between "MEmu_" and " --", as an integer
// (0 when a marker is missing or the line is empty).
int32_t VmNumberOfCommandLine(const std::string& command_line);

// Scans one fresh snapshot: the pid of the first "MEmuHeadless.exe" (exact case) whose VM
// number equals `vm_index`, or 0.
uint32_t FindHeadlessPid(ProcessSource& source, int32_t vm_index);

// One snapshot shared by many look-ups (a listing of many VMs): each headless process's command
// line is read at most once, and every look-up answers what FindHeadlessPid would have answered
// for that snapshot (the first matching process in snapshot order).
class HeadlessProcessIndex {
public:
    explicit HeadlessProcessIndex(ProcessSource& source);
    uint32_t Find(int32_t vm_index);

private:
    ProcessSource& source_;
    std::vector<ProcessEntry> headless_;  // "MEmuHeadless.exe" entries in snapshot order
    std::vector<int32_t> numbers_;        // VM numbers of headless_[0 .. numbers_.size())
};
