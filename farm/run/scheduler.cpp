#include "farm/run/scheduler.h"

#include <algorithm>
#include <mutex>

namespace {

// Hands out the VMs one by one, keeping the starts `stagger` apart.
class StartQueue {
public:
    StartQueue(FarmSystem& system, size_t count, double stagger)
        : system_(system), count_(count), stagger_(stagger) {}

    struct Start {
        size_t position;  // in the set
        double at;        // on the system's clock
    };

    // The next VM to start, or nothing when all are handed out or the user asked to stop.
    // Waits out the stagger first; one caller at a time, so that two free workers never start
    // together.
    std::optional<Start> Next() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (next_ >= count_ || system_.StopRequested()) return std::nullopt;
        if (last_start_ && stagger_ > 0) {
            const double wait = *last_start_ + stagger_ - system_.Now();
            if (wait > 0) system_.Sleep(wait);
            if (system_.StopRequested()) return std::nullopt;
        }
        last_start_ = system_.Now();
        return Start{next_++, *last_start_};
    }

private:
    FarmSystem& system_;
    const size_t count_;
    const double stagger_;
    std::mutex mutex_;
    size_t next_ = 0;
    std::optional<double> last_start_;
};

VmResult NotStarted(int32_t index) {
    VmResult result;
    result.index = index;
    result.started = false;
    result.verdict = Verdict::kNotStarted;
    result.failure = "not started: stopped by Ctrl+C";
    return result;
}

}  // namespace

std::vector<bool> RunPositions(FarmSystem& system, size_t count, const ScheduleOptions& options,
                               const PositionWork& work) {
    std::vector<bool> started(count, false);
    StartQueue queue(system, count, options.stagger);
    auto worker = [&] {
        while (std::optional<StartQueue::Start> start = queue.Next()) {
            started[start->position] = true;  // each position is handed to one worker
            work(start->position, start->at);
        }
    };
    const size_t workers = std::min<size_t>(
        count, static_cast<size_t>(std::clamp(options.parallel, 1, kMostParallel)));
    if (workers <= 1) {
        worker();  // one at a time: no thread needed
    } else {
        system.RunWorkers(workers, worker);
    }
    return started;
}

std::vector<VmResult> RunOverVms(FarmSystem& system, const std::vector<int32_t>& indexes,
                                 const ScheduleOptions& options, const VmWork& work,
                                 const VmDone& done) {
    std::vector<std::optional<VmResult>> results(indexes.size());
    std::mutex done_mutex;
    RunPositions(system, indexes.size(), options, [&](size_t position, double started_at) {
        VmResult result = work(indexes[position]);
        result.started_at = started_at;
        std::lock_guard<std::mutex> lock(done_mutex);
        if (done) done(result);
        results[position] = std::move(result);
    });

    std::vector<VmResult> ordered;
    ordered.reserve(indexes.size());
    for (size_t i = 0; i < indexes.size(); ++i) {
        if (results[i]) {
            ordered.push_back(std::move(*results[i]));
        } else {
            VmResult skipped = NotStarted(indexes[i]);
            if (done) done(skipped);
            ordered.push_back(std::move(skipped));
        }
    }
    return ordered;
}
