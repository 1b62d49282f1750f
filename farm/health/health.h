// The farm's health: one reading per VM (is it running, its headless process's CPU share,
// memory and uptime, whether its window and adb answer) and the rules that call a VM healthy.
// Plain data and arithmetic; the probes that gather the inputs sit behind HealthProbes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "control/vm_record.h"
#include "process/process_reading.h"

// What asking a VM's window gave.
enum class WindowAnswer {
    kResponding,  // it took the message
    kHung,        // the system reports it hung, or it did not answer in time
    kNone,        // the VM has no window
    kUnknown,     // it could not be asked (no such window any more)
};

// Everything gathered for one VM in one round.
struct HealthInputs {
    VmRecord vm;  // from the listing: index, title, started, window, headless pid
    // The headless process in the two process lists a sample apart; nothing when it is not in
    // that list (or the list could not be read: see list_read).
    std::optional<ProcessReading> before;
    std::optional<ProcessReading> after;
    bool list_read = true;
    WindowAnswer window = WindowAnswer::kNone;
    std::optional<bool> adb;  // adb printed "1" for sys.boot_completed in time; nothing: not asked
};

// When the two process lists were taken (FILETIME, 100 ns units) and how many cores share the
// CPU time.
struct SampleClock {
    int64_t before = 0;
    int64_t after = 0;
    int cores = 1;
};

struct HealthThresholds {
    std::optional<double> max_cpu;         // share of all cores, 0 to 1
    std::optional<double> max_private_mb;  // MiB
};

// The names of a VM's readings: the keys of its JSON document, and of `reasons`, which says
// why a reading is null.
namespace health_key {
inline constexpr const char* kHeadlessPid = "headless_pid";
inline constexpr const char* kCpuRatio = "cpu_ratio";
inline constexpr const char* kWorkingSetBytes = "working_set_bytes";
inline constexpr const char* kPrivateBytes = "private_bytes";
inline constexpr const char* kWindowResponding = "window_responding";
inline constexpr const char* kAdbResponding = "adb_responding";
inline constexpr const char* kUptimeSeconds = "uptime_seconds";
}  // namespace health_key

// One VM's reading. A value that could not be read is null, with the reason under its name in
// `reasons`; a VM that is not running reads zeros.
struct VmHealth {
    int32_t index = 0;
    std::string title;
    bool started = false;
    std::optional<uint32_t> headless_pid;
    std::optional<double> cpu_ratio;  // share of all cores over the sample
    std::optional<uint64_t> working_set_bytes;
    std::optional<uint64_t> private_bytes;
    std::optional<bool> window_responding;
    bool has_window = false;
    std::optional<bool> adb_responding;
    std::optional<double> uptime_seconds;
    bool healthy = false;
    std::vector<std::string> problems;           // why a running VM is not healthy
    std::map<std::string, std::string> reasons;  // why a value is null
};

// The CPU a process used between two readings, as a share of all cores: nothing when the
// interval is empty or negative, or the time went backwards (another process took the pid).
std::optional<double> CpuShare(uint64_t cpu_before, uint64_t cpu_after, int64_t interval,
                               int cores);

VmHealth ReadHealth(const HealthInputs& inputs, const SampleClock& clock,
                    const HealthThresholds& thresholds);

struct HealthReport {
    int64_t sampled_at = 0;  // FILETIME of the second process list
    std::vector<VmHealth> vms;

    int Running() const;
    int Unhealthy() const;  // running and not healthy
};

// "2026-12-08T12:34:56Z" for a FILETIME (UTC).
std::string IsoUtc(int64_t filetime);
// Seconds since 1970 (Unix time) for a FILETIME.
double UnixSeconds(int64_t filetime);
