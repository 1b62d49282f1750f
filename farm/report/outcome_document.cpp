#include "farm/report/outcome_document.h"

#include <cmath>

#include "farm/report/health_format.h"
#include "farm/report/json_error.h"

namespace {

using Json = Document;

// Adds "error" to a document whose outcome gives a reason.
void AddError(Json& document, const FarmOutcome& outcome, const Utf8Of& utf8) {
    if (outcome.message.empty()) return;
    document["error"] = ErrorObject(outcome.exit_code, utf8(outcome.message));
}

// How the VMs' Android was asked, where it was: "adb":"server", or "process" when adb.exe ran
// for each step.
void AddAdbWay(Json& document, const FarmOutcome& outcome) {
    if (const char* key = AdbWayKey(outcome.adb)) document["adb"] = key;
}

Json StepsJson(const std::vector<StepResult>& steps, const Utf8Of& utf8) {
    Json list = Json::array();
    for (const StepResult& step : steps) {
        Json item;
        item["command"] = utf8(step.command);
        item["ok"] = step.ok;
        item["output"] = utf8(step.run.output);
        if (!step.ok) item["failure"] = utf8(step.failure);
        list.push_back(std::move(item));
    }
    return list;
}

Json VmJson(const VmRecord& vm, const Utf8Of& utf8) {
    Json item;
    item["index"] = vm.index;
    item["title"] = utf8(vm.title);
    item["window"] = vm.window;
    item["inner_window"] = vm.inner_window;
    item["started"] = vm.started;
    item["pid"] = vm.process_id;
    item["headless_pid"] = vm.headless_pid;
    return item;
}

Json SingleJson(const FarmOutcome& outcome, const VmResult& result, const Utf8Of& utf8) {
    Json document;
    document["ok"] = outcome.ok;
    document["verdict"] = VerdictKey(result.verdict);
    document["command"] = utf8(result.Command());
    document["output"] = utf8(result.output);
    if (result.running) document["running"] = *result.running;
    if (result.booted) document["booted"] = *result.booted;
    if (result.verdict == Verdict::kDetached) document["detached"] = true;
    if (result.timed_out) document["timed_out"] = true;
    if (result.steps.size() > 1) document["steps"] = StepsJson(result.steps, utf8);
    AddAdbWay(document, outcome);
    AddError(document, outcome, utf8);
    return document;
}

Json ResultJson(const VmResult& result, const Utf8Of& utf8) {
    Json item;
    item["index"] = result.index;
    item["ok"] = result.ok;
    item["verdict"] = VerdictKey(result.verdict);
    item["command"] = utf8(result.Command());
    item["output"] = utf8(result.output);
    item["seconds"] = std::round(result.seconds * 1000) / 1000;
    item["timed_out"] = result.timed_out;
    if (result.running) item["running"] = *result.running;
    if (result.booted) item["booted"] = *result.booted;
    if (!result.ok) item["failure"] = utf8(result.failure);
    return item;
}

Json SetJson(const FarmOutcome& outcome, const SetOutcome& set, const Utf8Of& utf8) {
    Json document;
    document["ok"] = outcome.ok;
    Json list = Json::array();
    for (const VmResult& result : set.results) list.push_back(ResultJson(result, utf8));
    document["results"] = std::move(list);
    Json counts = Json::object();
    for (size_t v = 0; v < set.summary.counts.size(); ++v)
        if (set.summary.counts[v] > 0)
            counts[VerdictKey(static_cast<Verdict>(v))] = set.summary.counts[v];
    document["counts"] = std::move(counts);
    AddAdbWay(document, outcome);
    AddError(document, outcome, utf8);
    return document;
}

Json ListJson(const FarmOutcome& outcome, const FarmListing& listing, const Utf8Of& utf8) {
    Json document;
    document["ok"] = outcome.ok;
    Json vms = Json::array();
    for (const VmRecord& vm : listing.vms) vms.push_back(VmJson(vm, utf8));
    document["vms"] = std::move(vms);
    Json unreadable = Json::array();
    for (const std::string& line : listing.unreadable) unreadable.push_back(utf8(line));
    document["unreadable"] = std::move(unreadable);
    if (!listing.step.ok) document["output"] = utf8(listing.step.run.output);
    AddError(document, outcome, utf8);
    return document;
}

Json CloneJson(const FarmOutcome& outcome, const CloneReport& report, const Utf8Of& utf8) {
    Json document;
    document["ok"] = outcome.ok;
    document["master"] = utf8(report.master);
    document["first"] = report.first;
    document["count"] = report.count;
    document["tools_dir"] = utf8(report.tools_dir);
    if (report.dry_run) document["dry_run"] = true;
    if (report.console) {
        Json write;
        write["version"] = report.console->version;
        write["ok"] = report.console->ok;
        write["message"] = utf8(report.console->message);
        document["console"] = std::move(write);
    }
    if (report.dry_run) {
        Json commands = Json::array();
        for (const std::string& line : report.planned) commands.push_back(utf8(line));
        document["commands"] = std::move(commands);
    } else if (report.failure.empty()) {
        if (report.snapshot_uuid) document["snapshot_uuid"] = *report.snapshot_uuid;
        Json steps = Json::array();
        for (const CloneStepReport& step : report.steps) {
            Json item;
            item["command"] = utf8(step.command);
            item["ok"] = step.ok;
            item["output"] = utf8(step.output);
            if (!step.finished) item["finished"] = false;
            steps.push_back(std::move(item));
        }
        document["steps"] = std::move(steps);
        document["registered"] = report.result.succeeded;
        document["stopped"] = report.result.stopped;
    }
    if (!report.notes.empty()) {
        Json notes = Json::array();
        for (const std::string& note : report.notes) notes.push_back(utf8(note));
        document["notes"] = std::move(notes);
    }
    AddError(document, outcome, utf8);
    return document;
}

Json HealthJson(const FarmOutcome& outcome, const HealthRound& round, const Utf8Of& utf8) {
    Json document = HealthDocument(round.report, round.exit_code, round.failure, utf8,
                                   round.heal ? &*round.heal : nullptr);
    AddAdbWay(document, outcome);
    return document;
}

}  // namespace

Document OutcomeDocument(const FarmRequest&, const FarmOutcome& outcome, const Utf8Of& utf8) {
    if (const auto* single = std::get_if<SingleOutcome>(&outcome.what))
        return SingleJson(outcome, single->result, utf8);
    if (const auto* set = std::get_if<SetOutcome>(&outcome.what))
        return SetJson(outcome, *set, utf8);
    if (const auto* list = std::get_if<ListOutcome>(&outcome.what))
        return ListJson(outcome, list->listing, utf8);
    if (const auto* clone = std::get_if<CloneReport>(&outcome.what))
        return CloneJson(outcome, *clone, utf8);
    if (const auto* health = std::get_if<HealthRound>(&outcome.what))
        return HealthJson(outcome, *health, utf8);
    return FailureDocument(outcome.exit_code, outcome.message, utf8);
}

Document FailureDocument(int exit_code, const std::string& message, const Utf8Of& utf8) {
    Json document;
    document["ok"] = false;
    document["error"] = ErrorObject(exit_code, utf8(message));
    return document;
}

Document InformationDocument(const std::string& key, const std::string& text, const Utf8Of& utf8) {
    Json document;
    document["ok"] = true;
    document[key] = utf8(text);
    return document;
}

std::string DocumentText(const Document& document) {
    return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}
