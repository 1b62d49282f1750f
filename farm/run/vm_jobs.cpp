#include "farm/run/vm_jobs.h"

#include "control/operations.h"
#include "text/gbk_text.h"

namespace {

constexpr const char* kIndexPlaceholder = "{index}";
// How long one boot poll may stay silent before it counts as "not yet".
constexpr int kBootPollTimeoutMs = 5000;

struct Job {
    const JobContext& context;
    int32_t index;
    StepLimits limits;
    VmResult result;

    FarmSystem& system() const { return context.system; }
    const FarmRequest& request() const { return context.request; }

    StepResult Run(Op op, const OperationArgs& args, bool detached = false) {
        return Keep(detached ? RunOperationStep(system(), context.folders, op, args, limits, true)
                             : RunDeviceStep(system(), context.folders, op, args, limits));
    }

    StepResult Keep(StepResult step) {
        result.timed_out = result.timed_out || step.run.end == RunEnd::kTimedOut ||
                           step.run.end == RunEnd::kAbandoned;
        result.deadline_passed = result.deadline_passed || step.run.end == RunEnd::kAbandoned;
        result.steps.push_back(step);
        return step;
    }

    void Fail(std::string why) {
        result.ok = false;
        if (result.failure.empty()) result.failure = std::move(why);
    }

    OperationArgs Args() const { return {index, request().numbers, request().texts}; }
};

bool Detached(const FarmRequest& request, Op op) {
    const RunMode mode = RowOf(op).run;
    return mode == RunMode::kDetached ||
           (mode == RunMode::kDetachedUnlessWait && !request.wait && !request.boot);
}

// Asks adb once a second whether Android has booted, until it has, the boot time-out passes,
// the deadline passes or the user presses Ctrl+C. Only the last question is kept.
void WaitForBoot(Job& job) {
    FarmSystem& system = job.system();
    const double until = system.Now() + job.request().boot_timeout_s;
    StepLimits poll_limits = job.limits;
    poll_limits.timeout_ms = kBootPollTimeoutMs;
    for (bool first = true;; first = false) {
        if (system.StopRequested()) {
            job.Fail("the boot wait was stopped by Ctrl+C; the VM is left running");
            return;
        }
        StepResult poll = RunDeviceStep(system, job.context.folders, Op::kBootCompleted,
                                        {job.index, {}, {}}, poll_limits);
        if (!first) job.result.steps.pop_back();
        job.result.steps.push_back(poll);
        if (poll.run.end == RunEnd::kAbandoned) {
            job.result.timed_out = job.result.deadline_passed = true;
            job.Fail(poll.failure);
            return;
        }
        if (poll.ok && SaysBooted(poll.run.output)) {
            job.result.booted = true;
            return;
        }
        if (system.Now() >= until) {
            job.result.booted = false;
            job.Fail("Android had not finished booting after " +
                     gbk::Decimal(static_cast<int64_t>(job.request().boot_timeout_s)) +
                     " s; the VM is left running");
            return;
        }
        system.Sleep(1.0);
    }
}

void RunOperationJob(Job& job) {
    const Op op = OperationOf(job.request());
    job.limits.timeout_ms = job.request().timeout_ms.value_or(0);
    const StepResult step = job.Run(op, job.Args(), Detached(job.request(), op));
    job.result.ok = step.ok;
    job.result.detached = step.run.end == RunEnd::kDetached;
    job.result.output = step.run.output;
    if (!step.ok) {
        job.Fail(step.failure);
        return;
    }
    job.limits.timeout_ms = 0;
    if (job.request().boot) WaitForBoot(job);
}

void RunRunningJob(Job& job) {
    const StepResult step = job.Run(Op::kIsVmRunning, job.Args());
    job.result.output = step.run.output;
    // Either answer holds "Running"; a reply without it answers nothing.
    const bool answered = step.ok && gbk::Contains(step.run.output, "Running");
    job.result.ok = answered;
    if (answered) {
        job.result.running = ReplySucceeds(Op::kIsVmRunning, step.run.output);
    } else {
        job.Fail(step.ok ? "the reply says neither Running nor Not Running" : step.failure);
    }
}

void RunScreenshotJob(Job& job) {
    const std::string name = ScreenshotFileName(job.system().TickCount());
    const std::string path =
        ScreenshotPath(job.request().texts.at(0), job.index, job.context.many_vms);
    job.result.ok = true;
    if (std::optional<StepResult> direct =
            RunScreenshotStep(job.system(), job.context.folders, job.index, path, job.limits)) {
        const StepResult step = job.Keep(std::move(*direct));
        if (!step.ok) job.Fail(step.failure);
        return;
    }
    // Without the server: capture into a device file, pull it, remove it. Only a passed
    // deadline ends the steps early.
    for (const OperationStep& screenshot_step : ScreenshotSteps(job.index, name, path)) {
        if (job.result.deadline_passed) break;
        const StepResult step = job.Run(screenshot_step.op, screenshot_step.args);
        job.result.output += step.run.output;
        if (!step.ok) job.Fail(step.failure);
    }
    if (job.result.ok && !job.system().FileExists(path))
        job.Fail("the screenshot was not saved to " + path);
}

}  // namespace

std::optional<std::string> ClearScreenshotFile(FarmSystem& system, const std::string& path) {
    const std::optional<std::string> reason = system.RemoveFile(path);
    if (!reason) return std::nullopt;
    return "FILE " + path + " is there from before and cannot be removed (" + *reason +
           "); nothing was run";
}

std::string ScreenshotPath(const std::string& file, int32_t index, bool many) {
    const std::string number = gbk::Decimal(index);
    if (gbk::Contains(file, kIndexPlaceholder))
        return gbk::ReplaceAll(file, kIndexPlaceholder, number);
    if (!many) return file;
    const int separator = gbk::FindLast(file, "\\");
    const int dot = gbk::FindLast(file, ".");
    if (dot > separator && dot > 1)
        return file.substr(0, static_cast<size_t>(dot - 1)) + "-" + number +
               file.substr(static_cast<size_t>(dot - 1));
    return file + "-" + number;
}

VmResult RunVmJob(const JobContext& context, int32_t index) {
    Job job{context, index, {}, {}};
    job.result.index = index;
    const double started = context.system.Now();
    job.limits.deadline = context.invocation_deadline;
    if (context.per_vm_seconds) job.limits.deadline.at = started + *context.per_vm_seconds;

    switch (context.request.verb->job) {
        case VmJob::kOperation:
            RunOperationJob(job);
            break;
        case VmJob::kRunning:
            RunRunningJob(job);
            break;
        case VmJob::kScreenshot:
            RunScreenshotJob(job);
            break;
    }
    job.result.seconds = context.system.Now() - started;
    job.result.verdict = Judge(job.result);
    return std::move(job.result);
}
