#include "farm/health/prometheus_text.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

#include "farm/command/limits.h"
#include "text/gbk_text.h"
#include "text/number_text.h"

namespace {

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::string PrometheusLabelValue(std::string_view utf8) {
    std::string escaped;
    for (char c : utf8) {
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '"') {
            escaped += "\\\"";
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string PrometheusNumber(double value) {
    if (std::isnan(value)) return "NaN";
    char text[64];
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        std::snprintf(text, sizeof text, "%.0f", value);
    } else {
        std::snprintf(text, sizeof text, "%.9g", value);
    }
    return text;
}

namespace {

struct Gauge {
    const char* name;
    std::string help;
    std::function<std::optional<double>(const VmHealth&)> value;
};

template <typename T>
std::optional<double> AsDouble(const std::optional<T>& value) {
    if (!value) return std::nullopt;
    return static_cast<double>(*value);
}

std::optional<double> AsFlag(const std::optional<bool>& value) {
    if (!value) return std::nullopt;
    return *value ? 1.0 : 0.0;
}

const std::vector<Gauge>& VmGauges() {
    static const std::vector<Gauge> gauges = {
        {"memu_vm_up", "Whether the VM is running (1) or not (0).",
         [](const VmHealth& vm) { return std::optional<double>(vm.started ? 1 : 0); }},
        {"memu_vm_healthy",
         "Whether the VM is running and healthy: its window (if any) and adb answer, and it is "
         "within the thresholds.",
         [](const VmHealth& vm) { return std::optional<double>(vm.started && vm.healthy); }},
        {"memu_vm_cpu_ratio",
         "CPU used by the VM's headless process over the sample, as a share of all cores.",
         [](const VmHealth& vm) { return vm.cpu_ratio; }},
        {"memu_vm_working_set_bytes", "Working set of the VM's headless process.",
         [](const VmHealth& vm) { return AsDouble(vm.working_set_bytes); }},
        {"memu_vm_private_bytes", "Private bytes (commit charge) of the VM's headless process.",
         [](const VmHealth& vm) { return AsDouble(vm.private_bytes); }},
        {"memu_vm_window_responding",
         "Whether the VM's window answers messages (1) or is hung (0).",
         [](const VmHealth& vm) { return AsFlag(vm.window_responding); }},
        {"memu_vm_adb_responding",
         "Whether adb answered sys.boot_completed with 1 within " +
             numtext::LimitText(kAdbAnswerMs / 1000.0) + " seconds.",
         [](const VmHealth& vm) { return AsFlag(vm.adb_responding); }},
        {"memu_vm_uptime_seconds", "Seconds since the VM's headless process started.",
         [](const VmHealth& vm) { return vm.uptime_seconds; }},
    };
    return gauges;
}

void AddMetric(std::string& text, const char* name, const std::string& help,
               const char* type = "gauge") {
    text += std::string("# HELP ") + name + " " + help + "\n";
    text += std::string("# TYPE ") + name + " " + type + "\n";
}

// `{index="1",title="..."`: the VM's labels, left open for more.
std::string VmLabels(const VmHealth& vm, const Utf8Of& utf8) {
    return "{index=\"" + gbk::Decimal(vm.index) + "\",title=\"" +
           PrometheusLabelValue(utf8(vm.title)) + "\"";
}

// Every VM, action and result from the first round on, so that a rate sees the first action.
void AddHealMetrics(std::string& text, const HealthReport& report, const HealView& heal,
                    const Utf8Of& utf8) {
    AddMetric(text, "memu_vm_heal_actions_total",
              "Heal actions (start, restart) that ended, by how they ended.", "counter");
    for (const VmHealth& vm : report.vms) {
        const std::string labels = VmLabels(vm, utf8);
        for (HealAction action : {HealAction::kStart, HealAction::kRestart}) {
            for (HealResult result :
                 {HealResult::kOk, HealResult::kFailed, HealResult::kTimedOut}) {
                const auto found = heal.totals.find({vm.index, action, result});
                const int64_t count = found == heal.totals.end() ? 0 : found->second;
                text += "memu_vm_heal_actions_total" + labels + ",action=\"" +
                        std::string(HealActionName(action)) + "\",result=\"" +
                        std::string(HealResultName(result)) + "\"} " + std::to_string(count) + "\n";
            }
        }
    }
    AddMetric(text, "memu_vm_heal_gave_up",
              "Whether the VM needs a heal action but has used up its budget (1) or not (0).");
    for (const VmHealth& vm : report.vms)
        text += "memu_vm_heal_gave_up" + VmLabels(vm, utf8) + "} " +
                (heal.StateOf(vm.index) == HealState::kGaveUp ? "1" : "0") + "\n";
}

}  // namespace

std::string PrometheusText(const HealthReport& report, const Utf8Of& utf8, const HealView* heal) {
    std::string text;
    for (const Gauge& gauge : VmGauges()) {
        AddMetric(text, gauge.name, gauge.help);
        for (const VmHealth& vm : report.vms) {
            const std::optional<double> value = gauge.value(vm);
            if (!value) continue;
            text += std::string(gauge.name) + VmLabels(vm, utf8) + "} " + PrometheusNumber(*value) +
                    "\n";
        }
    }
    if (heal) AddHealMetrics(text, report, *heal, utf8);
    AddMetric(text, "memu_vms", "VMs in the set the health check looked at.");
    text += "memu_vms " + std::to_string(report.vms.size()) + "\n";
    AddMetric(text, "memu_vms_unhealthy", "Running VMs of the set that are not healthy.");
    text += "memu_vms_unhealthy " + std::to_string(report.Unhealthy()) + "\n";
    AddMetric(text, "memu_health_last_run_timestamp_seconds",
              "When the health check took its readings (Unix time).");
    text += "memu_health_last_run_timestamp_seconds " +
            Format("%.3f", UnixSeconds(report.sampled_at)) + "\n";
    return text;
}
