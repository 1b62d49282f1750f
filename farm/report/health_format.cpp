#include "farm/report/health_format.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "farm/report/json_error.h"
#include "text/gbk_text.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr double kMiB = 1024.0 * 1024.0;

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Duration(double seconds) {
    const auto whole = static_cast<int64_t>(seconds);
    char text[48];
    if (whole >= 86400) {
        std::snprintf(text, sizeof text, "%lldd%02lldh", static_cast<long long>(whole / 86400),
                      static_cast<long long>(whole / 3600 % 24));
    } else if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lldh%02lldm", static_cast<long long>(whole / 3600),
                      static_cast<long long>(whole / 60 % 60));
    } else if (whole >= 60) {
        std::snprintf(text, sizeof text, "%lldm%02llds", static_cast<long long>(whole / 60),
                      static_cast<long long>(whole % 60));
    } else {
        std::snprintf(text, sizeof text, "%llds", static_cast<long long>(whole));
    }
    return text;
}

template <typename T, typename F>
std::string Cell(const std::optional<T>& value, F show) {
    return value ? show(*value) : std::string("?");
}

std::string WindowCell(const VmHealth& vm) {
    if (!vm.started) return "-";
    if (!vm.has_window) return "none";
    if (!vm.window_responding) return "?";
    return *vm.window_responding ? "yes" : "HUNG";
}

std::string HealthCell(const VmHealth& vm, const HealView* heal) {
    std::string cell;
    if (!vm.started) {
        cell = "stopped";
    } else {
        cell = vm.healthy ? "ok" : "UNHEALTHY: " + [&] {
            std::string joined;
            for (const std::string& problem : vm.problems)
                joined += (joined.empty() ? "" : "; ") + problem;
            return joined;
        }();
    }
    if (!heal) return cell;
    const auto found = heal->decisions.find(vm.index);
    if (found == heal->decisions.end()) return cell;
    const HealDecision& decision = found->second;
    if (decision.state == HealState::kHealing) return "healing";
    if (decision.state == HealState::kGaveUp) return "GAVE UP (" + cell + ")";
    if (decision.action != HealAction::kNone)
        return cell + " -> " + std::string(HealActionName(decision.action));
    return cell;
}

// --- Prometheus ---------------------------------------------------------------------------

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
    const char* help;
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
         "Whether adb answered sys.boot_completed with 1 within 3 seconds.",
         [](const VmHealth& vm) { return AsFlag(vm.adb_responding); }},
        {"memu_vm_uptime_seconds", "Seconds since the VM's headless process started.",
         [](const VmHealth& vm) { return vm.uptime_seconds; }},
    };
    return gauges;
}

void AddMetric(std::string& text, const char* name, const char* help, const char* type = "gauge") {
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

template <typename T>
Json Nullable(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

}  // namespace

std::string HealthTable(const HealthReport& report, const HealView* heal) {
    constexpr size_t kColumns = 11;
    using Row = std::array<std::string, kColumns>;
    // Narrow headers: the table is redrawn in a console window 80 columns wide.
    std::vector<Row> rows = {{"index", "title", "run", "pid", "cpu", "mem", "private", "window",
                              "adb", "uptime", "health"}};
    for (const VmHealth& vm : report.vms) {
        const auto mib = [](uint64_t bytes) { return Format("%.0f MiB", bytes / kMiB); };
        rows.push_back(
            {gbk::Decimal(vm.index), vm.title, vm.started ? "yes" : "no",
             Cell(vm.headless_pid, [](uint32_t pid) { return gbk::Decimal(pid); }),
             Cell(vm.cpu_ratio, [](double share) { return Format("%.1f%%", share * 100); }),
             Cell(vm.working_set_bytes, mib), Cell(vm.private_bytes, mib), WindowCell(vm),
             !vm.started ? "-"
                         : Cell(vm.adb_responding,
                                [](bool yes) { return std::string(yes ? "yes" : "NO"); }),
             Cell(vm.uptime_seconds, Duration), HealthCell(vm, heal)});
    }
    std::array<size_t, kColumns> widths{};
    for (const Row& row : rows)
        for (size_t c = 0; c < kColumns; ++c) widths[c] = std::max(widths[c], row[c].size());
    std::string table;
    for (size_t r = 0; r < rows.size(); ++r) {
        const bool marked = r > 0 && report.vms[r - 1].started && !report.vms[r - 1].healthy;
        std::string line = marked ? "! " : "  ";
        for (size_t c = 0; c < kColumns; ++c) {
            line += rows[r][c];
            if (c + 1 < kColumns) line.append(widths[c] - rows[r][c].size() + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        table += line + "\n";
    }
    table += std::to_string(report.vms.size()) + " VMs, " + std::to_string(report.Running()) +
             " running, " + std::to_string(report.Unhealthy()) + " unhealthy (sampled " +
             IsoUtc(report.sampled_at) + ").\n";
    return table;
}

std::string HealthJson(const HealthReport& report, int exit_code, const std::string& message,
                       const Utf8Of& utf8, const HealView* heal) {
    Json document;
    document["ok"] = exit_code == 0;
    document["sampled_at"] = IsoUtc(report.sampled_at);
    document["running"] = report.Running();
    document["unhealthy"] = report.Unhealthy();
    if (heal) {
        // How many VMs are being healed and how many are over their budget.
        int healing = 0;
        int gave_up = 0;
        for (const VmHealth& vm : report.vms) {
            healing += heal->StateOf(vm.index) == HealState::kHealing ? 1 : 0;
            gave_up += heal->StateOf(vm.index) == HealState::kGaveUp ? 1 : 0;
        }
        document["healing"] = healing;
        document["gave_up"] = gave_up;
    }
    Json vms = Json::array();
    for (const VmHealth& vm : report.vms) {
        Json item;
        item["index"] = vm.index;
        item["title"] = utf8(vm.title);
        item["started"] = vm.started;
        item[health_key::kHeadlessPid] = Nullable(vm.headless_pid);
        item[health_key::kCpuRatio] = Nullable(vm.cpu_ratio);
        item[health_key::kWorkingSetBytes] = Nullable(vm.working_set_bytes);
        item[health_key::kPrivateBytes] = Nullable(vm.private_bytes);
        item[health_key::kWindowResponding] = Nullable(vm.window_responding);
        item[health_key::kAdbResponding] = Nullable(vm.adb_responding);
        item[health_key::kUptimeSeconds] = Nullable(vm.uptime_seconds);
        item["healthy"] = vm.healthy;
        Json problems = Json::array();
        for (const std::string& problem : vm.problems) problems.push_back(utf8(problem));
        item["problems"] = std::move(problems);
        Json reasons = Json::object();
        for (const auto& [name, why] : vm.reasons) reasons[name] = utf8(why);
        item["reasons"] = std::move(reasons);
        if (heal) item["heal"] = HealStateName(heal->StateOf(vm.index));
        vms.push_back(std::move(item));
    }
    document["vms"] = std::move(vms);
    if (exit_code != 0) document["error"] = ErrorObject(exit_code, utf8(message));
    return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

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

std::string HealEventJson(const HealEvent& event, const Utf8Of& utf8) {
    Json document;
    document["event"] = "heal";
    document["time"] = IsoUtc(event.time);
    document["index"] = event.index;
    document["title"] = utf8(event.title);
    document["action"] = HealActionName(event.action);
    document["reason"] = utf8(event.reason);
    Json steps = Json::array();
    for (const std::string& step : event.steps) steps.push_back(utf8(step));
    document["steps"] = std::move(steps);
    document["result"] = HealResultName(event.result);
    if (!event.failure.empty()) document["failure"] = utf8(event.failure);
    return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string HealEventLine(const HealEvent& event) {
    std::string line = IsoUtc(event.time) + "  VM " + gbk::Decimal(event.index) + " " +
                       event.title + ": " + std::string(HealActionName(event.action)) + " (" +
                       event.reason + "): " + std::string(HealResultName(event.result));
    if (!event.failure.empty()) line += ": " + event.failure;
    return line;
}
