#include "agent/farm_tool_host.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <utility>

#include "agent/screen_images.h"
#include "agent/tool_result.h"
#include "agent/tool_schema.h"
#include "farm/command/grammar.h"
#include "farm/report/outcome_text.h"
#include "farm/run/vm_jobs.h"
#include "text/gbk_text.h"

namespace agent {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kLogger = "MEmuFarm";

bool Contains(const std::vector<int32_t>& indexes, int32_t index) {
    return std::find(indexes.begin(), indexes.end(), index) != indexes.end();
}

std::string Outside(int32_t index, const OwnerLimits& limits) {
    return "VM " + gbk::Decimal(index) + " is not among the VMs this server may act on (--vms " +
           limits.vms_text + ")";
}

}  // namespace

void CapDeadline(FarmRequest& request, double cap_seconds) {
    const uint32_t cap_ms = static_cast<uint32_t>(std::max(1.0, std::round(cap_seconds * 1000)));
    request.deadline_ms = std::min(request.deadline_ms.value_or(cap_ms), cap_ms);
}

SetLimit LimitToOwner(FarmRequest& request, const OwnerLimits& limits, FarmSystem& system) {
    if (!limits.vms) return {};
    const VmSet& owner = *limits.vms;
    if (!request.set) request.set = owner;  // health's SET: all of them, within the owner's
    VmSet& call = *request.set;
    if (!call.NeedsListing() && !owner.NeedsListing()) {
        for (int32_t index : call.indexes)
            if (!Contains(owner.indexes, index)) return {Outside(index, limits)};
        return {};
    }
    FarmRequest list = NewRequest(*FindVerb("list"));
    list.install_dir = request.install_dir;
    list.deadline_ms = request.deadline_ms;
    const FarmOutcome listed = RunFarm(list, system, {});
    const auto* listing = std::get_if<ListOutcome>(&listed.what);
    if (!listed.ok || !listing)
        return {"the set needs the VM listing, which failed: " + listed.message,
                listed.exit_code == kExitOk ? kExitFailed : listed.exit_code};
    const std::vector<int32_t> allowed = ResolveVmSet(owner, listing->listing.vms);
    std::vector<int32_t> within;
    for (int32_t index : ResolveVmSet(call, listing->listing.vms)) {
        if (Contains(allowed, index)) {
            within.push_back(index);
        } else if (!call.NeedsListing()) {
            return {Outside(index, limits)};
        }
    }
    if (within.empty()) return {std::string("the set names no VM")};
    const bool single = call.single;
    call = VmSet{};
    call.indexes = std::move(within);
    call.single = single;
    return {};
}

namespace {

// The progress of a call as the console prints it, told to the client: each VM's line as it
// finishes, counted against the set (its size once known); each clone step's lines as it ends,
// counted against the clone count.
class CallProgress {
public:
    CallProgress(mcp::CallContext& context, const Utf8Of& utf8, std::optional<double> total)
        : context_(context), utf8_(utf8), total_(total) {}

    FarmProgress Progress() {
        FarmProgress progress;
        progress.set_resolved = [this](size_t vms) {
            std::lock_guard lock(mutex_);
            total_ = static_cast<double>(vms);
        };
        progress.vm_finished = [this](const VmResult& result) {
            const std::string line = ResultLine(result) + "\n";
            mcp::ProgressReport report;
            {
                std::lock_guard lock(mutex_);
                text_ += line;
                report.progress = ++count_;
                report.total = total_;
            }
            report.message = utf8_(gbk::FirstLine(line));
            context_.ReportProgress(report);
        };
        progress.log = [this](const std::string& text) {
            std::lock_guard lock(mutex_);
            text_ += text;
            unreported_ += text;
        };
        progress.clone_done = [this](int64_t done, int64_t count) {
            mcp::ProgressReport report;
            std::string lines;
            {
                std::lock_guard lock(mutex_);
                lines = std::exchange(unreported_, {});
            }
            report.progress = static_cast<double>(done);
            report.total = static_cast<double>(count);
            // What the run logged since the last step ended, its clone's line last.
            while (!lines.empty() && (lines.back() == '\n' || lines.back() == '\r'))
                lines.pop_back();
            report.message = utf8_(lines);
            context_.ReportProgress(report);
        };
        return progress;
    }
    std::string Text() {
        std::lock_guard lock(mutex_);
        return text_;
    }

private:
    mcp::CallContext& context_;
    const Utf8Of& utf8_;
    std::mutex mutex_;
    std::optional<double> total_;
    std::string text_;
    std::string unreported_;  // the clone's log since its last step ended
    int count_ = 0;
};

// The screens a screenshot call captured, read back from their files (the server's own are
// removed afterwards).
std::vector<Capture> Captures(const FarmRequest& request, const FarmOutcome& outcome,
                              FarmSystem& system, bool own_files) {
    std::vector<Capture> captures;
    std::vector<const VmResult*> results;
    if (const auto* single = std::get_if<SingleOutcome>(&outcome.what))
        results.push_back(&single->result);
    if (const auto* set = std::get_if<SetOutcome>(&outcome.what))
        for (const VmResult& result : set->results) results.push_back(&result);
    const bool many = request.set && !request.set->single;
    for (const VmResult* result : results) {
        const std::string path = ScreenshotPath(request.texts.at(0), result->index, many);
        Capture capture{result->index, std::nullopt};
        if (result->ok) capture.bytes = system.FileStart(path, kMostCaptureBytes);
        captures.push_back(std::move(capture));
        if (own_files) system.RemoveFile(path);
    }
    return captures;
}

}  // namespace

FarmToolHost::FarmToolHost(FarmSystem& system, HostOptions options)
    : system_(system), options_(std::move(options)), gate_(options_.parallel) {}

Utf8Of FarmToolHost::Utf8() {
    return [this](std::string_view gbk) { return system_.Utf8FromGbk(gbk); };
}

nlohmann::ordered_json FarmToolHost::ListTools() {
    Json tools = Json::array();
    for (const Tool& tool : OfferedTools(options_.limits))
        tools.push_back(ToolDefinition(tool, Utf8()));
    return tools;
}

bool FarmToolHost::HasTool(const std::string& name) {
    return FindTool(options_.limits, name).has_value();
}

nlohmann::ordered_json FarmToolHost::Call(const std::string& name, const nlohmann::json& arguments,
                                          mcp::CallContext& context) {
    const Utf8Of utf8 = Utf8();
    const std::optional<Tool> tool = FindTool(options_.limits, name);
    if (!tool) return RefusalResult("unknown tool " + gbk::Quoted(name), utf8);

    ArgumentContext reading{options_.gbk_of, options_.full_path, ""};
    if (tool->captures_to_temp)
        reading.capture_file =
            options_.capture_dir + "mcp-screen-" + std::to_string(++calls_) + "-{index}.png";
    // screenshot's images are the server's own arguments, not the command's.
    nlohmann::json given = arguments;
    ScreenArguments screen;
    if (tool->verb->job == VmJob::kScreenshot)
        if (std::optional<std::string> problem = TakeScreenArguments(given, &screen))
            return RefusalResult(*problem, utf8);
    ReadRequest read = ReadToolArguments(*tool, given, options_.limits, reading);
    if (!read.request) return RefusalResult(read.refusal, utf8);
    FarmRequest& request = *read.request;
    if (!options_.install_dir.empty()) request.install_dir = options_.install_dir;
    CapDeadline(request, options_.deadline_s);

    StepLog log;
    log.started = [&context, &utf8](const std::string& line) {
        context.Log(mcp::LogLevel::kInfo, utf8(line), kLogger);
    };
    log.failed = [&context, &utf8](const std::string& line, const std::string& why) {
        context.Log(mcp::LogLevel::kError, utf8(line + ": " + why), kLogger);
    };
    CallSystem system(system_, gate_, context.StopToken(), options_.deadline_s, std::move(log));

    const SetLimit limit = LimitToOwner(request, options_.limits, system);
    if (limit.problem) return RefusalResult(*limit.problem, utf8, limit.exit_code);

    std::optional<double> total;
    if (request.set && !request.set->NeedsListing())
        total = static_cast<double>(request.set->indexes.size());
    CallProgress progress(context, utf8, total);
    const FarmOutcome outcome = RunFarm(request, system, progress.Progress());

    if (request.verb->job != VmJob::kScreenshot || outcome.exit_code == kExitUsage)
        return RunResult(request, outcome, progress.Text(), {}, utf8);
    const std::string text = progress.Text();
    return ScreensWithinBudget(
        Captures(request, outcome, system_, tool->captures_to_temp), screen,
        [&](const std::vector<ResultImage>& images, const std::string& note) {
            return RunResult(request, outcome, text, images, utf8, note);
        });
}

}  // namespace agent
