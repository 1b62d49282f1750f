#include "farm/report/outcome_text.h"

#include <algorithm>
#include <cstdio>

#include "farm/report/aligned_table.h"
#include "farm/report/health_format.h"
#include "farm/report/outcome_document.h"
#include "text/gbk_text.h"

namespace {

class Report {
public:
    void Out(const std::string& text) { printed_.push_back({Printout::Stream::kOut, text}); }
    void Error(const std::string& text) { printed_.push_back({Printout::Stream::kError, text}); }
    void Json(const Document& document) {
        printed_.push_back({Printout::Stream::kJson, DocumentText(document) + "\n"});
    }
    // A tool's output as it was written, with a line end after it.
    void ToolOutput(const std::string& output) {
        if (output.empty()) return;
        Out(output);
        if (output.back() != '\n') Out("\n");
    }
    void Reason(const std::string& message) {
        if (!message.empty()) Error("MEmuFarm: " + message + "\n");
    }
    std::vector<Printout> Take() { return std::move(printed_); }

private:
    std::vector<Printout> printed_;
};

std::string CloneSummary(const CloneReport& report) {
    const OneKeyResult& r = report.result;
    std::string text = std::string("Summary: snapshot ") + (r.snapshot_ok ? "taken" : "failed");
    if (report.snapshot_uuid) text += " (UUID " + *report.snapshot_uuid + ")";
    text += ", " + gbk::Decimal(r.succeeded) + " of " + gbk::Decimal(report.count) +
            " clones registered";
    if (r.stopped) text += ", stopped after " + gbk::Decimal(r.attempted);
    return text + ".\n";
}

void SingleText(Report& report, const FarmOutcome& outcome, const VmResult& result) {
    if (result.verdict == Verdict::kDetached)
        report.Out("Started without waiting: " + result.Command() + "\n");
    report.ToolOutput(result.output);
    if (result.booted == true) report.Out("VM " + gbk::Decimal(result.index) + " has booted.\n");
    report.Reason(outcome.message);
}

void ListText(Report& report, const FarmOutcome& outcome, const FarmListing& listing) {
    if (!listing.vms.empty() || listing.step.ok) report.Out(VmTable(listing.vms));
    if (!listing.step.ok) report.ToolOutput(listing.step.run.output);
    for (const std::string& line : listing.unreadable)
        report.Error("MEmuFarm: this line of the listing could not be read: " + line + "\n");
    report.Reason(outcome.message);
}

void CloneText(Report& report, const FarmOutcome& outcome, const CloneReport& clone) {
    if (clone.dry_run && clone.failure.empty()) {
        report.Out("Tools folder: " + clone.tools_dir + "\n");
        for (const std::string& line : clone.planned) report.Out(line + "\n");
    } else if (clone.failure.empty()) {
        report.Out(CloneSummary(clone));
    }
    for (const std::string& note : clone.notes) report.Out(note + "\n");
    report.Reason(outcome.message);
}

}  // namespace

std::vector<Printout> OutcomeReport(const FarmRequest& request, const FarmOutcome& outcome,
                                    const Utf8Of& utf8) {
    Report report;
    if (outcome.adb == AdbWay::kProcess)
        report.Error("MEmuFarm: the adb server on port " + std::to_string(outcome.adb_port) +
                     " could not be reached or started; asking adb.exe for each step\n");
    const auto* health = std::get_if<HealthRound>(&outcome.what);
    if (health && request.watch_s) {
        report.Reason(outcome.message);  // the rounds are shown already
    } else if (health) {
        if (request.json) {
            report.Json(OutcomeDocument(request, outcome, utf8));
        } else if (health->listed) {
            report.Out(HealthTable(health->report));
        }
        report.Reason(outcome.message);
    } else if (request.json) {
        report.Reason(outcome.message);
        report.Json(OutcomeDocument(request, outcome, utf8));
    } else if (const auto* single = std::get_if<SingleOutcome>(&outcome.what)) {
        SingleText(report, outcome, single->result);
    } else if (const auto* set = std::get_if<SetOutcome>(&outcome.what)) {
        report.Out(set->summary.text + "\n");
        report.Reason(outcome.message);
    } else if (const auto* list = std::get_if<ListOutcome>(&outcome.what)) {
        ListText(report, outcome, list->listing);
    } else if (const auto* clone = std::get_if<CloneReport>(&outcome.what)) {
        CloneText(report, outcome, *clone);
    } else {
        report.Reason(outcome.message);
    }
    return report.Take();
}

std::vector<Printout> FailureReport(int exit_code, const std::string& message, bool json,
                                    const Utf8Of& utf8) {
    Report report;
    report.Reason(message);
    if (json) report.Json(FailureDocument(exit_code, message, utf8));
    return report.Take();
}

std::vector<Printout> InformationReport(const std::string& key, const std::string& text, bool json,
                                        const Utf8Of& utf8) {
    Report report;
    if (json) {
        report.Json(InformationDocument(key, text, utf8));
    } else {
        report.Out(text);
    }
    return report.Take();
}

std::string ResultLine(const VmResult& result) {
    std::string state = VerdictKey(result.verdict);
    std::replace(state.begin(), state.end(), '_', ' ');
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%7.2fs", result.seconds);
    std::string index = gbk::Decimal(result.index);
    index.resize(std::max<size_t>(index.size(), 6), ' ');
    std::string state_column = state;
    state_column.resize(std::max<size_t>(state_column.size() + 1, 12), ' ');
    const std::string detail =
        result.ok || result.failure.empty() ? gbk::FirstLine(result.output) : result.failure;
    return index + state_column + seconds + "  " + detail;
}

std::string VmTable(const std::vector<VmRecord>& vms) {
    std::vector<TableRow> rows = {
        {"index", "title", "window", "inner_window", "started", "pid", "headless_pid"}};
    for (const VmRecord& vm : vms)
        rows.push_back({gbk::Decimal(vm.index), vm.title, gbk::Decimal(vm.window),
                        gbk::Decimal(vm.inner_window), vm.started ? "yes" : "no",
                        gbk::Decimal(vm.process_id), gbk::Decimal(vm.headless_pid)});
    std::string table;
    for (const std::string& line : AlignedLines(rows)) table += line + "\n";
    return table;
}

std::string HealthRoundText(const HealthRound& round, const std::deque<std::string>& heal_lines) {
    const HealView* heal = round.heal ? &*round.heal : nullptr;
    std::string text = round.listed ? HealthTable(round.report, heal) : std::string();
    if (!round.failure.empty()) text += "MEmuFarm: " + round.failure + "\n";
    if (!heal_lines.empty()) {
        text += "Last heal actions:\n";
        for (const std::string& line : heal_lines) text += "  " + line + "\n";
    }
    return text;
}
