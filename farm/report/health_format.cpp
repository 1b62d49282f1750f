#include "farm/report/health_format.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "farm/report/aligned_table.h"
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

template <typename T>
Json Nullable(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

}  // namespace

std::string HealthTable(const HealthReport& report, const HealView* heal) {
    // Narrow headers: the table is redrawn in a console window 80 columns wide.
    std::vector<TableRow> rows = {{"index", "title", "run", "pid", "cpu", "mem", "private",
                                   "window", "adb", "uptime", "health"}};
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
    const std::vector<std::string> lines = AlignedLines(rows);
    std::string table;
    for (size_t r = 0; r < lines.size(); ++r) {
        const bool marked = r > 0 && report.vms[r - 1].started && !report.vms[r - 1].healthy;
        std::string line = (marked ? "! " : "  ") + lines[r];
        while (!line.empty() && line.back() == ' ') line.pop_back();
        table += line + "\n";
    }
    table += std::to_string(report.vms.size()) + " VMs, " + std::to_string(report.Running()) +
             " running, " + std::to_string(report.Unhealthy()) + " unhealthy (sampled " +
             IsoUtc(report.sampled_at) + ").\n";
    return table;
}

Json HealthDocument(const HealthReport& report, int exit_code, const std::string& message,
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
    return document;
}

Json HealEventDocument(const HealEvent& event, const Utf8Of& utf8) {
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
    return document;
}

std::string HealEventLine(const HealEvent& event) {
    std::string line = IsoUtc(event.time) + "  VM " + gbk::Decimal(event.index) + " " +
                       event.title + ": " + std::string(HealActionName(event.action)) + " (" +
                       event.reason + "): " + std::string(HealResultName(event.result));
    if (!event.failure.empty()) line += ": " + event.failure;
    return line;
}
