#include "cli/farm_output.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <deque>
#include <memory>
#include <vector>

#include "farm/health_format.h"
#include "farm/json_error.h"
#include "farm/verb_table.h"
#include "text/gbk_text.h"

namespace {

using Json = nlohmann::ordered_json;

Json Text(FarmConsole& console, std::string_view gbk) {
    return Json(console.Utf8FromGbk(gbk));
}

void PrintDocument(FarmConsole& console, const Json& document) {
    // Tool output that is not valid text is replaced rather than refused.
    console.PrintJson(document.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n");
}

// A tool's output as it was written, with a line end after it.
void PrintToolOutput(FarmConsole& console, const std::string& output) {
    if (output.empty()) return;
    console.Print(output);
    if (output.back() != '\n') console.Print("\n");
}

void PrintReason(FarmConsole& console, const std::string& message) {
    if (!message.empty()) console.PrintError("MEmuFarm: " + message + "\n");
}

Json ErrorJson(FarmConsole& console, int exit_code, const std::string& message) {
    return ErrorObject(exit_code, console.Utf8FromGbk(message));
}

// Adds "error" to a document whose outcome gives a reason, and the reason to standard error:
// a script that reads only the exit code and standard error learns why, with --json too.
void AddError(Json& document, FarmConsole& console, const FarmOutcome& outcome) {
    if (outcome.message.empty()) return;
    document["error"] = ErrorJson(console, outcome.exit_code, outcome.message);
    PrintReason(console, outcome.message);
}

// How the VMs' Android was asked, where it was: "adb":"server", or "process" when adb.exe ran
// for each step.
void AddAdbWay(Json& document, const FarmOutcome& outcome) {
    if (const char* key = AdbWayKey(outcome.adb)) document["adb"] = key;
}

Json StepsJson(FarmConsole& console, const std::vector<StepResult>& steps) {
    Json list = Json::array();
    for (const StepResult& step : steps) {
        Json item;
        item["command"] = Text(console, step.command);
        item["ok"] = step.ok;
        item["output"] = Text(console, step.run.output);
        if (!step.ok) item["failure"] = Text(console, step.failure);
        list.push_back(std::move(item));
    }
    return list;
}

Json VmJson(FarmConsole& console, const VmRecord& vm) {
    Json item;
    item["index"] = vm.index;
    item["title"] = Text(console, vm.title);
    item["window"] = vm.window;
    item["inner_window"] = vm.inner_window;
    item["started"] = vm.started;
    item["pid"] = vm.process_id;
    item["headless_pid"] = vm.headless_pid;
    return item;
}

// --- One VM, or a command that names none -----------------------------------------------------

void PrintSingle(const FarmRequest& request, const FarmOutcome& outcome, const VmResult& result,
                 FarmConsole& console) {
    const bool detached = result.verdict == Verdict::kDetached;
    if (request.json) {
        Json document;
        // The work was done or the question answered ("running": false is an answer).
        document["ok"] = result.ok;
        document["verdict"] = VerdictKey(result.verdict);
        document["command"] = Text(console, result.Command());
        document["output"] = Text(console, result.output);
        if (result.running) document["running"] = *result.running;
        if (result.booted) document["booted"] = *result.booted;
        if (detached) document["detached"] = true;
        if (result.timed_out) document["timed_out"] = true;
        if (result.steps.size() > 1) document["steps"] = StepsJson(console, result.steps);
        AddAdbWay(document, outcome);
        AddError(document, console, outcome);
        PrintDocument(console, document);
        return;
    }
    if (detached) console.Print("Started without waiting: " + result.Command() + "\n");
    PrintToolOutput(console, result.output);
    if (result.booted == true) console.Print("VM " + gbk::Decimal(result.index) + " has booted.\n");
    PrintReason(console, outcome.message);
}

// --- A set of VMs -----------------------------------------------------------------------------

Json ResultJson(FarmConsole& console, const VmResult& result) {
    Json item;
    item["index"] = result.index;
    item["ok"] = result.ok;
    item["verdict"] = VerdictKey(result.verdict);
    item["command"] = Text(console, result.Command());
    item["output"] = Text(console, result.output);
    item["seconds"] = std::round(result.seconds * 1000) / 1000;
    item["timed_out"] = result.timed_out;
    if (result.running) item["running"] = *result.running;
    if (result.booted) item["booted"] = *result.booted;
    if (!result.ok) item["failure"] = Text(console, result.failure);
    return item;
}

void PrintSet(const FarmRequest& request, const FarmOutcome& outcome, const SetOutcome& set,
              FarmConsole& console) {
    if (request.json) {
        Json document;
        document["ok"] = outcome.exit_code == kExitOk;
        Json list = Json::array();
        for (const VmResult& result : set.results) list.push_back(ResultJson(console, result));
        document["results"] = std::move(list);
        Json counts = Json::object();
        for (size_t v = 0; v < set.summary.counts.size(); ++v)
            if (set.summary.counts[v] > 0)
                counts[VerdictKey(static_cast<Verdict>(v))] = set.summary.counts[v];
        document["counts"] = std::move(counts);
        AddAdbWay(document, outcome);
        AddError(document, console, outcome);
        PrintDocument(console, document);
        return;
    }
    console.Print(set.summary.text + "\n");
    PrintReason(console, outcome.message);
}

// --- The listing ------------------------------------------------------------------------------

void PrintList(const FarmRequest& request, const FarmOutcome& outcome, const FarmListing& listing,
               FarmConsole& console) {
    if (request.json) {
        Json document;
        document["ok"] = outcome.exit_code == kExitOk;
        Json vms = Json::array();
        for (const VmRecord& vm : listing.vms) vms.push_back(VmJson(console, vm));
        document["vms"] = std::move(vms);
        Json unreadable = Json::array();
        for (const std::string& line : listing.unreadable)
            unreadable.push_back(Text(console, line));
        document["unreadable"] = std::move(unreadable);
        if (!listing.step.ok) document["output"] = Text(console, listing.step.run.output);
        AddError(document, console, outcome);
        PrintDocument(console, document);
        return;
    }
    if (!listing.vms.empty() || listing.step.ok) console.Print(VmTable(listing.vms));
    if (!listing.step.ok) PrintToolOutput(console, listing.step.run.output);
    for (const std::string& line : listing.unreadable)
        console.PrintError("MEmuFarm: this line of the listing could not be read: " + line + "\n");
    PrintReason(console, outcome.message);
}

// --- The clone job ----------------------------------------------------------------------------

std::string CloneSummary(const CloneReport& report) {
    const OneKeyResult& r = report.result;
    std::string text = std::string("Summary: snapshot ") + (r.snapshot_ok ? "taken" : "failed");
    if (report.snapshot_uuid) text += " (UUID " + *report.snapshot_uuid + ")";
    text += ", " + gbk::Decimal(r.succeeded) + " of " + gbk::Decimal(report.count) +
            " clones registered";
    if (r.stopped) text += ", stopped after " + gbk::Decimal(r.attempted);
    return text + ".\n";
}

void PrintClone(const FarmRequest& request, const FarmOutcome& outcome, const CloneReport& report,
                FarmConsole& console) {
    if (!request.json) {
        if (report.dry_run && report.failure.empty()) {
            console.Print("Tools folder: " + report.tools_dir + "\n");
            for (const std::string& line : report.planned) console.Print(line + "\n");
        } else if (report.failure.empty()) {
            console.Print(CloneSummary(report));
        }
        for (const std::string& note : report.notes) console.Print(note + "\n");
        PrintReason(console, outcome.message);
        return;
    }
    Json document;
    document["ok"] = outcome.exit_code == kExitOk;
    document["master"] = Text(console, report.master);
    document["first"] = report.first;
    document["count"] = report.count;
    document["tools_dir"] = Text(console, report.tools_dir);
    if (report.dry_run) document["dry_run"] = true;
    if (report.console) {
        Json write;
        write["version"] = report.console->version;
        write["ok"] = report.console->ok;
        write["message"] = Text(console, report.console->message);
        document["console"] = std::move(write);
    }
    if (report.dry_run) {
        Json commands = Json::array();
        for (const std::string& line : report.planned) commands.push_back(Text(console, line));
        document["commands"] = std::move(commands);
    } else if (report.failure.empty()) {
        if (report.snapshot_uuid) document["snapshot_uuid"] = *report.snapshot_uuid;
        Json steps = Json::array();
        for (const CloneStepReport& step : report.steps) {
            Json item;
            item["command"] = Text(console, step.command);
            item["ok"] = step.ok;
            item["output"] = Text(console, step.output);
            if (!step.finished) item["finished"] = false;
            steps.push_back(std::move(item));
        }
        document["steps"] = std::move(steps);
        document["registered"] = report.result.succeeded;
        document["stopped"] = report.result.stopped;
    }
    if (!report.notes.empty()) {
        Json notes = Json::array();
        for (const std::string& note : report.notes) notes.push_back(Text(console, note));
        document["notes"] = std::move(notes);
    }
    AddError(document, console, outcome);
    PrintDocument(console, document);
}

// --- Health ----------------------------------------------------------------------------------

// How many of the last heal actions the live view keeps under the table.
constexpr size_t kShownHealEvents = 5;

using HealLines = std::deque<std::string>;

std::string HealthText(const HealthRound& round, const HealLines& heal_lines) {
    const HealView* heal = round.heal ? &*round.heal : nullptr;
    std::string text = round.listed ? HealthTable(round.report, heal) : std::string();
    if (!round.failure.empty()) text += "MEmuFarm: " + round.failure + "\n";
    if (!heal_lines.empty()) {
        text += "Last heal actions:\n";
        for (const std::string& line : heal_lines) text += "  " + line + "\n";
    }
    return text;
}

Utf8Of ConsoleUtf8(FarmConsole& console) {
    return [&console](std::string_view gbk) { return console.Utf8FromGbk(gbk); };
}

std::string HealthDocument(const HealthRound& round, FarmConsole& console) {
    return HealthJson(round.report, round.exit_code, round.failure, ConsoleUtf8(console),
                      round.heal ? &*round.heal : nullptr);
}

bool ShowsLiveView(const FarmRequest& request, FarmConsole& console) {
    return console.OutputIsConsole() && !request.json;
}

// A round of --watch: in place on a console, one JSON document per line elsewhere.
void PrintHealthRound(const FarmRequest& request, const HealthRound& round,
                      const HealLines& heal_lines, FarmConsole& console) {
    if (ShowsLiveView(request, console)) {
        console.Redraw(HealthText(round, heal_lines));
    } else {
        console.PrintJson(HealthDocument(round, console) + "\n");
    }
}

// A heal action: kept for the live view's next redraw, or one JSON line of its own.
void PrintHealEvent(const FarmRequest& request, const HealEvent& event, HealLines& heal_lines,
                    FarmConsole& console) {
    if (ShowsLiveView(request, console)) {
        heal_lines.push_back(HealEventLine(event));
        if (heal_lines.size() > kShownHealEvents) heal_lines.pop_front();
    } else {
        console.PrintJson(HealEventJson(event, ConsoleUtf8(console)) + "\n");
    }
}

void PrintHealth(const FarmRequest& request, const FarmOutcome& outcome, const HealthRound& round,
                 FarmConsole& console) {
    if (request.watch_s) {
        console.EndRedraw();  // the rounds are shown already
    } else if (request.json) {
        Json document = Json::parse(HealthDocument(round, console));
        AddAdbWay(document, outcome);
        PrintDocument(console, document);
    } else if (round.listed) {
        console.Print(HealthTable(round.report));
    }
    PrintReason(console, outcome.message);
}

}  // namespace

void PrintInformation(const std::string& key, const std::string& text, bool json,
                      FarmConsole& console) {
    if (!json) {
        console.Print(text);
        return;
    }
    Json document;
    document["ok"] = true;
    document[key] = Text(console, text);
    PrintDocument(console, document);
}

void PrintFailure(int exit_code, const std::string& message, bool json, FarmConsole& console) {
    PrintReason(console, message);
    if (!json) return;
    Json document;
    document["ok"] = false;
    document["error"] = ErrorJson(console, exit_code, message);
    PrintDocument(console, document);
}

void PrintOutcome(const FarmRequest& request, const FarmOutcome& outcome, FarmConsole& console) {
    if (outcome.adb == AdbWay::kProcess)
        console.PrintError("MEmuFarm: the adb server on port " + std::to_string(outcome.adb_port) +
                           " could not be reached or started; asking adb.exe for each step\n");
    if (const auto* single = std::get_if<SingleOutcome>(&outcome.what)) {
        PrintSingle(request, outcome, single->result, console);
    } else if (const auto* set = std::get_if<SetOutcome>(&outcome.what)) {
        PrintSet(request, outcome, *set, console);
    } else if (const auto* list = std::get_if<ListOutcome>(&outcome.what)) {
        PrintList(request, outcome, list->listing, console);
    } else if (const auto* clone = std::get_if<CloneReport>(&outcome.what)) {
        PrintClone(request, outcome, *clone, console);
    } else if (const auto* health = std::get_if<HealthRound>(&outcome.what)) {
        PrintHealth(request, outcome, *health, console);
    } else {
        PrintFailure(outcome.exit_code, outcome.message, request.json, console);
    }
}

FarmProgress ProgressPrinter(const FarmRequest& request, FarmConsole& console) {
    FarmProgress progress;
    // health --watch prints every round, as JSON lines with --json.
    auto heal_lines = std::make_shared<HealLines>();
    progress.health_round = [&request, &console, heal_lines](const HealthRound& round) {
        PrintHealthRound(request, round, *heal_lines, console);
    };
    // The heal actions, as they end, between the rounds.
    progress.heal_event = [&request, &console, heal_lines](const HealEvent& event) {
        PrintHealEvent(request, event, *heal_lines, console);
    };
    if (request.json) return progress;
    progress.log = [&console](const std::string& text) { console.Print(text); };
    progress.vm_finished = [&console](const VmResult& result) {
        console.Print(ResultLine(result) + "\n");
    };
    return progress;
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
    constexpr size_t kColumns = 7;
    using Row = std::array<std::string, kColumns>;
    std::vector<Row> rows = {
        {"index", "title", "window", "inner_window", "started", "pid", "headless_pid"}};
    for (const VmRecord& vm : vms) {
        rows.push_back({gbk::Decimal(vm.index), vm.title, gbk::Decimal(vm.window),
                        gbk::Decimal(vm.inner_window), vm.started ? "yes" : "no",
                        gbk::Decimal(vm.process_id), gbk::Decimal(vm.headless_pid)});
    }
    std::array<size_t, kColumns> widths{};
    for (const Row& row : rows)
        for (size_t c = 0; c < kColumns; ++c) widths[c] = std::max(widths[c], row[c].size());
    std::string table;
    for (const Row& row : rows) {
        std::string line;
        for (size_t c = 0; c < kColumns; ++c) {
            line += row[c];
            if (c + 1 < kColumns) line.append(widths[c] - row[c].size() + 2, ' ');
        }
        table += line + "\n";
    }
    return table;
}
