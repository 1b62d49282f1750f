#include "serve/page_schedule.h"

#include <algorithm>
#include <limits>

namespace serve {

PageRound RoundPlan::Next(double now, bool page_open, bool screens_begun) {
    if (!started_) {
        started_ = true;
        listed_ = now;
        return PageRound::kListing;
    }
    if (!page_open) {
        visiting_ = false;
        return PageRound::kNone;
    }
    if (!visiting_) {
        visiting_ = true;
        checked_in_visit_ = false;
        visit_began_ = now;
        screens_begun = false;  // read for the visit before: this one's are to come
        if (!listed_ || now - *listed_ >= interval_s_) {
            listed_ = now;
            return PageRound::kListing;
        }
    }
    if (checked_ && now - *checked_ < interval_s_) return PageRound::kNone;
    if (!checked_in_visit_ && !screens_begun && now - visit_began_ < first_round_wait_s_)
        return PageRound::kNone;
    checked_ = now;
    checked_in_visit_ = true;
    return PageRound::kHealth;
}

double RoundPlan::Wait(double now, bool page_open) const {
    if (!started_) return 0;
    if (!page_open) return std::numeric_limits<double>::infinity();
    if (!visiting_) return 0;
    double due = checked_ ? *checked_ + interval_s_ : now;
    if (!checked_in_visit_) due = std::max(due, visit_began_ + first_round_wait_s_);
    return std::max(0.0, due - now);
}

void CaptureSchedule::SetVms(const std::vector<int32_t>& indexes) {
    vms_ = indexes;
    std::sort(vms_.begin(), vms_.end());
    vms_.erase(std::unique(vms_.begin(), vms_.end()), vms_.end());
    for (auto it = begun_.begin(); it != begun_.end();)
        it = std::binary_search(vms_.begin(), vms_.end(), it->first) ? std::next(it)
                                                                     : begun_.erase(it);
}

double CaptureSchedule::Due(int32_t index) const {
    const auto begun = begun_.find(index);
    if (begun == begun_.end()) return -std::numeric_limits<double>::infinity();
    return begun->second + (focus_ == index ? pace_.focus_s : pace_.interval_s);
}

std::optional<CapturePick> CaptureSchedule::Next(double now) {
    if (static_cast<int>(running_.size()) >= pace_.most_at_once) return std::nullopt;
    std::optional<int32_t> pick;
    std::optional<int32_t> oldest;
    if (focus_ && std::binary_search(vms_.begin(), vms_.end(), *focus_) &&
        !running_.count(*focus_) && Due(*focus_) <= now)
        pick = focus_;
    for (int32_t index : vms_) {
        if (pick || running_.count(index) || Due(index) > now) continue;
        if (!oldest || Due(index) < Due(*oldest)) oldest = index;
    }
    if (!pick) pick = oldest;
    if (!pick) return std::nullopt;
    begun_[*pick] = now;
    running_.insert(*pick);
    return CapturePick{*pick, focus_ == pick};
}

void CaptureSchedule::Done(int32_t index) {
    running_.erase(index);
}

bool CaptureSchedule::AllBegunSince(double since) const {
    for (int32_t index : vms_) {
        const auto begun = begun_.find(index);
        if (begun == begun_.end() || begun->second < since) return false;
    }
    return true;
}

std::optional<double> CaptureSchedule::NextDue(double now) const {
    std::optional<double> earliest;
    for (int32_t index : vms_) {
        if (running_.count(index)) continue;
        const double due = std::max(now, Due(index));
        if (!earliest || due < *earliest) earliest = due;
    }
    return earliest;
}

}  // namespace serve
