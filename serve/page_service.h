// The farm page's doors, answered from what the service holds: the page itself (after the
// way in by /?token=, which makes a session and sends the browser on without the token), its
// files, the state document and the pictures. Also what the service's health loop and
// capture workers ask: whether a page is open, which capture is next, where their results go.
// Safe to use from several threads; the time is the caller's (seconds on a steady clock).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "serve/door.h"
#include "serve/page_schedule.h"
#include "serve/page_session.h"
#include "serve/page_state.h"

namespace serve {

struct PageReply {
    int status = 200;
    std::string content_type;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // besides the security headers
    std::string verdict = "ok";                                // for the log
};

class PageService {
public:
    PageService(PageSettings settings, CapturePace pace, RandomSource& random);

    SessionBook& Sessions() { return sessions_; }

    // One request the door let in to kPage, kPageFile, kPageState or kPageImage.
    PageReply Answer(const RequestHead& request, const DoorDecision& decision, double now);

    bool PageOpen(double now) const;
    std::optional<CapturePick> NextCapture(double now);
    std::optional<double> NextDue(double now) const;
    // Every running VM's capture has begun at `since` or later.
    bool AllCapturedSince(double since) const;
    // A capture has ended: its picture, or nothing when it gave none.
    void CaptureDone(const CapturePick& pick, std::optional<PagePicture> picture);

    // A health round's --json document (its "vms"), or why the round gave none (UTF-8).
    void HealthRound(const Document& health);
    void HealthFailed(const std::string& utf8_message);
    // A listing's --json document, read before a visit's first health round: the tiles sooner,
    // their verdicts to follow, and the running VMs to capture meanwhile.
    void Listing(const Document& listing);

    // Called (outside the lock) when a state request came or the focus changed, so that the
    // loops waiting for a page can look again.
    void OnSeen(std::function<void()> seen) { seen_ = std::move(seen); }

private:
    PageReply Page(const RequestHead& request, const DoorDecision& decision);
    PageReply State(const RequestHead& request, double now);
    PageReply Image(const RequestHead& request);

    SessionBook sessions_;
    mutable std::mutex mutex_;
    PageState state_;
    PageWatch watch_;
    CaptureSchedule schedule_;
    std::function<void()> seen_;
};

// A whole number of the target's query, when it is one (0 to 2^31-1).
std::optional<std::int64_t> QueryNumber(std::string_view target, std::string_view name);

}  // namespace serve
