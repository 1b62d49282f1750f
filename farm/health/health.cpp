#include "farm/health/health.h"

#include <cstdio>

namespace {

constexpr int64_t kTicksPerSecond = 10000000;  // FILETIME units
// 1970-01-01 as a FILETIME.
constexpr int64_t kUnixEpoch = 116444736000000000;
constexpr double kMiB = 1024.0 * 1024.0;

std::string Percent(double share) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", share * 100);
    return text;
}

void ReadStopped(VmHealth& health) {
    health.headless_pid = 0;
    health.cpu_ratio = 0.0;
    health.working_set_bytes = 0;
    health.private_bytes = 0;
    health.window_responding = false;
    health.adb_responding = false;
    health.uptime_seconds = 0.0;
}

void ReadProcess(const HealthInputs& in, const SampleClock& clock, VmHealth& health) {
    const auto null_all = [&](const std::string& why) {
        for (const char* name : {health_key::kCpuRatio, health_key::kWorkingSetBytes,
                                 health_key::kPrivateBytes, health_key::kUptimeSeconds})
            health.reasons[name] = why;
    };
    if (in.vm.headless_pid == 0) {
        health.reasons[health_key::kHeadlessPid] =
            "the VM's MEmuHeadless.exe process was not found";
        null_all("no headless process");
        return;
    }
    health.headless_pid = static_cast<uint32_t>(in.vm.headless_pid);
    if (!in.list_read) {
        null_all("the system's process list could not be read");
        return;
    }
    if (!in.after) {
        null_all("the headless process was not in the process list");
        return;
    }
    health.working_set_bytes = in.after->working_set;
    health.private_bytes = in.after->private_bytes;
    const int64_t age = clock.after - in.after->create_time;
    if (in.after->create_time > 0 && age >= 0) {
        health.uptime_seconds = static_cast<double>(age) / kTicksPerSecond;
    } else {
        health.reasons[health_key::kUptimeSeconds] = "the process's create time is not known";
    }
    if (!in.before || in.before->create_time != in.after->create_time) {
        health.reasons[health_key::kCpuRatio] = "the process was not there for the whole sample";
        return;
    }
    health.cpu_ratio =
        CpuShare(in.before->cpu_time, in.after->cpu_time, clock.after - clock.before, clock.cores);
    if (!health.cpu_ratio) health.reasons[health_key::kCpuRatio] = "no CPU interval to measure";
}

void ReadWindow(WindowAnswer answer, VmHealth& health) {
    switch (answer) {
        case WindowAnswer::kResponding:
            health.window_responding = true;
            break;
        case WindowAnswer::kHung:
            health.window_responding = false;
            break;
        case WindowAnswer::kNone:
            health.reasons[health_key::kWindowResponding] = "the VM has no window";
            break;
        case WindowAnswer::kUnknown:
            health.reasons[health_key::kWindowResponding] = "the VM's window could not be asked";
            break;
    }
}

void Judge(const HealthThresholds& thresholds, VmHealth& health) {
    // A VM without a window passes; one whose window does not answer, or cannot be asked, does
    // not.
    if (health.window_responding == false) {
        health.problems.push_back("its window does not answer");
    } else if (health.has_window && !health.window_responding) {
        health.problems.push_back("its window could not be asked");
    }
    if (health.adb_responding != true) health.problems.push_back("adb does not answer");
    if (thresholds.max_cpu && health.cpu_ratio && *health.cpu_ratio > *thresholds.max_cpu)
        health.problems.push_back("CPU " + Percent(*health.cpu_ratio) + " is above " +
                                  Percent(*thresholds.max_cpu));
    if (thresholds.max_private_mb && health.private_bytes &&
        *health.private_bytes / kMiB > *thresholds.max_private_mb) {
        char text[96];
        std::snprintf(text, sizeof text, "private memory %.0f MiB is above %.0f MiB",
                      *health.private_bytes / kMiB, *thresholds.max_private_mb);
        health.problems.push_back(text);
    }
    health.healthy = health.problems.empty();
}

}  // namespace

std::optional<double> CpuShare(uint64_t cpu_before, uint64_t cpu_after, int64_t interval,
                               int cores) {
    if (interval <= 0 || cores <= 0 || cpu_after < cpu_before) return std::nullopt;
    return static_cast<double>(cpu_after - cpu_before) / (static_cast<double>(interval) * cores);
}

VmHealth ReadHealth(const HealthInputs& in, const SampleClock& clock,
                    const HealthThresholds& thresholds) {
    VmHealth health;
    health.index = in.vm.index;
    health.title = in.vm.title;
    health.started = in.vm.started;
    health.has_window = in.vm.window >= 1;
    if (!health.started) {
        ReadStopped(health);
        return health;  // not running: not healthy, and not counted as unhealthy
    }
    ReadProcess(in, clock, health);
    ReadWindow(in.window, health);
    health.adb_responding = in.adb;
    if (!in.adb) health.reasons[health_key::kAdbResponding] = "adb was not asked";
    Judge(thresholds, health);
    return health;
}

int HealthReport::Running() const {
    int running = 0;
    for (const VmHealth& vm : vms) running += vm.started ? 1 : 0;
    return running;
}

int HealthReport::Unhealthy() const {
    int unhealthy = 0;
    for (const VmHealth& vm : vms) unhealthy += vm.started && !vm.healthy ? 1 : 0;
    return unhealthy;
}

std::string IsoUtc(int64_t filetime) {
    const int64_t seconds = (filetime - kUnixEpoch) / kTicksPerSecond;
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Days since 1970-01-01 to a civil date (proleptic Gregorian).
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t day_of_era = days - era * 146097;
    const int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t month_index = (5 * day_of_year + 2) / 153;
    const int64_t day = day_of_year - (153 * month_index + 2) / 5 + 1;
    const int64_t month = month_index < 10 ? month_index + 3 : month_index - 9;
    const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}

double UnixSeconds(int64_t filetime) {
    return static_cast<double>(filetime - kUnixEpoch) / kTicksPerSecond;
}
