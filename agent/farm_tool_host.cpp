#include "agent/farm_tool_host.h"

#include <algorithm>
#include <cmath>
#include <mutex>

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
constexpr const char* kPngSignature = "\x89PNG\r\n\x1a\n";

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
// finishes, counted against the set; the clone's log lines as they come.
class CallProgress {
public:
    CallProgress(mcp::CallContext& context, const Utf8Of& utf8, std::optional<double> total)
        : context_(context), utf8_(utf8), total_(total) {}

    FarmProgress Progress() {
        FarmProgress progress;
        progress.vm_finished = [this](const VmResult& result) {
            Tell(ResultLine(result) + "\n", total_);
        };
        progress.log = [this](const std::string& text) { Tell(text, std::nullopt); };
        return progress;
    }
    std::string Text() {
        std::lock_guard lock(mutex_);
        return text_;
    }

private:
    void Tell(const std::string& gbk, std::optional<double> total) {
        mcp::ProgressReport report;
        {
            std::lock_guard lock(mutex_);
            text_ += gbk;
            report.progress = ++count_;
        }
        report.total = total;
        report.message = utf8_(gbk::FirstLine(gbk));
        context_.ReportProgress(report);
    }

    mcp::CallContext& context_;
    const Utf8Of& utf8_;
    const std::optional<double> total_;
    std::mutex mutex_;
    std::string text_;
    int count_ = 0;
};

// The screens a screenshot call captured, read back from their files (the server's own are
// removed afterwards).
std::vector<ResultImage> CapturedImages(const FarmRequest& request, const FarmOutcome& outcome,
                                        FarmSystem& system, bool own_files) {
    std::vector<ResultImage> images;
    std::vector<const VmResult*> results;
    if (const auto* single = std::get_if<SingleOutcome>(&outcome.what))
        results.push_back(&single->result);
    if (const auto* set = std::get_if<SetOutcome>(&outcome.what))
        for (const VmResult& result : set->results) results.push_back(&result);
    const bool many = request.set && !request.set->single;
    for (const VmResult* result : results) {
        const std::string path = ScreenshotPath(request.texts.at(0), result->index, many);
        if (result->ok) {
            std::string bytes = system.FileStart(path, kMostCaptureBytes);
            if (bytes.rfind(kPngSignature, 0) == 0)
                images.push_back({std::move(bytes), "image/png"});
        }
        if (own_files) system.RemoveFile(path);
    }
    return images;
}

// The result with as many of its images, in order, as fit in `budget` bytes as sent; the text
// says how many were left out.
Json WithinBudget(Json result, int64_t budget) {
    Json& content = result["content"];
    const auto size = [&result] { return static_cast<int64_t>(result.dump().size()); };
    if (size() <= budget) return result;
    size_t left_out = 0;
    while (content.size() > 1 && size() > budget) {
        content.erase(content.size() - 1);
        ++left_out;
    }
    content[0]["text"] = content[0]["text"].get<std::string>() + std::to_string(left_out) +
                         " screen(s) left out: the result would pass max_bytes\n";
    return result;
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
    // screenshot's budget is the server's own argument, not the command's.
    nlohmann::json given = arguments;
    int64_t budget = kDefaultImageBudget;
    if (tool->verb->job == VmJob::kScreenshot && given.is_object() &&
        given.contains(kImageBudgetProperty)) {
        const nlohmann::json& value = given[kImageBudgetProperty];
        if (!value.is_number_integer() || value.get<int64_t>() < kLeastImageBudget ||
            value.get<int64_t>() > kMostImageBudget)
            return RefusalResult(
                std::string(kImageBudgetProperty) + " must be a whole number from " +
                    std::to_string(kLeastImageBudget) + " to " + std::to_string(kMostImageBudget),
                utf8);
        budget = value.get<int64_t>();
        given.erase(kImageBudgetProperty);
    }
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

    std::vector<ResultImage> images;
    if (request.verb->job == VmJob::kScreenshot && outcome.exit_code != kExitUsage)
        images = CapturedImages(request, outcome, system_, tool->captures_to_temp);
    return WithinBudget(RunResult(request, outcome, progress.Text(), images, utf8), budget);
}

}  // namespace agent
