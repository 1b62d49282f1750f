// When the farm page's service works: a page is open while it asks for the state, and only
// then do the health rounds and the screen captures run. The captures go in turn: each VM at
// most once per interval, the one in focus every second at full size, never one VM twice at
// once, at most a few at a time. Plain bookkeeping on the caller's clock (seconds).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace serve {

// "A page is open": a state request came within the last two intervals.
class PageWatch {
public:
    explicit PageWatch(double interval_s) : window_s_(2 * interval_s) {}
    void Seen(double now) { last_ = now; }
    bool Open(double now) const { return last_ && now - *last_ <= window_s_; }

private:
    double window_s_;
    std::optional<double> last_;
};

// Which round the health loop runs next, on the caller's clock. The farm is listed once as the
// service starts, so that a page's first visit draws its tiles at once rather than after a
// listing of its own (seconds at a few hundred VMs). A visit lists again first when the
// listing it would show is older than one interval. Its first health round waits for the
// screens: until every running VM's capture has begun since the visit began, or one thumbnail
// interval at most, as a round at a few hundred VMs would otherwise hold the first screens
// back. Health rounds come at most once per interval, only while the page is open.
enum class PageRound { kNone, kListing, kHealth };

class RoundPlan {
public:
    RoundPlan(double interval_s, double first_round_wait_s)
        : interval_s_(interval_s), first_round_wait_s_(first_round_wait_s) {}
    // The round to run at `now`, marked as begun; kNone when none is due. `screens_begun`:
    // every running VM's capture has begun since VisitBegan() (read before this call).
    PageRound Next(double now, bool page_open, bool screens_begun);
    // The listing just begun gave no tiles: the next visit lists again.
    void ListingFailed() { listed_.reset(); }
    // When the page's visit began (0 before any).
    double VisitBegan() const { return visit_began_; }
    // How long the loop may sleep at `now` before a round is due: infinity while no page is
    // open (a page coming is the caller's to watch for), and while the first round waits for
    // the screens, until its wait ends (the screens are the caller's to look at meanwhile).
    double Wait(double now, bool page_open) const;

private:
    double interval_s_;
    double first_round_wait_s_;
    bool started_ = false;  // the service's own listing has begun
    bool visiting_ = false;
    bool checked_in_visit_ = false;
    double visit_began_ = 0;
    std::optional<double> listed_;   // when the listing the page shows began
    std::optional<double> checked_;  // when the last health round began
};

struct CapturePace {
    double interval_s = 10;  // each VM at most once per interval
    double focus_s = 1;      // the focused VM
    int most_at_once = 4;
};

// One capture to make: of VM `index`, at full size when it is the focused one.
struct CapturePick {
    int32_t index = 0;
    bool full = false;
};

class CaptureSchedule {
public:
    explicit CaptureSchedule(CapturePace pace) : pace_(pace) {}

    // The VMs that can be captured (the running ones); the others are forgotten.
    void SetVms(const std::vector<int32_t>& indexes);
    void Focus(std::optional<int32_t> index) { focus_ = index; }
    std::optional<int32_t> Focused() const { return focus_; }

    // The next capture due at `now`, marked as begun; nothing when none is due or as many as
    // may run at once are running. The focused VM first, then the one waited longest.
    std::optional<CapturePick> Next(double now);
    // A capture begun by Next has ended (whether or not it gave a picture).
    void Done(int32_t index);
    // Every VM to capture has had a capture begin at `since` or later (true when there is none).
    bool AllBegunSince(double since) const;
    // The earliest time a capture may be due, for the caller's sleep; nothing when no VM.
    std::optional<double> NextDue(double now) const;
    int Running() const { return static_cast<int>(running_.size()); }

private:
    double Due(int32_t index) const;

    CapturePace pace_;
    std::vector<int32_t> vms_;
    std::optional<int32_t> focus_;
    std::map<int32_t, double> begun_;  // when each VM's last capture began
    std::set<int32_t> running_;
};

}  // namespace serve
