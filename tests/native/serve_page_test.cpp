// The farm page's service: the capture schedule on a fake clock, the state document's
// versions, the sessions with their CSRF tokens, and the way in by /?token= (its cookie and
// the address it sends the browser to).
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "row_name.h"
#include "serve/door.h"
#include "serve/page_files.h"
#include "serve/page_schedule.h"
#include "serve/page_service.h"
#include "serve/page_session.h"
#include "serve/page_state.h"

namespace {

using serve::CapturePace;
using serve::CapturePick;
using serve::CaptureSchedule;

// Runs the schedule on a fake clock in steps of `step` seconds from 0 to `until`, each capture
// taking `takes` seconds; records when each VM's captures began and the most running at once.
struct Captures {
    std::map<int32_t, std::vector<double>> begun;
    std::map<int32_t, std::vector<bool>> full;
    int most_at_once = 0;
    bool twice_at_once = false;
};

Captures Drive(CaptureSchedule& schedule, double until, double step, double takes) {
    Captures run;
    std::multimap<double, int32_t> ends;
    std::set<int32_t> running;
    const int steps = static_cast<int>(until / step + 0.5);
    for (int i = 0; i <= steps; ++i) {
        const double now = i * step;
        while (!ends.empty() && ends.begin()->first <= now + 1e-9) {
            schedule.Done(ends.begin()->second);
            running.erase(ends.begin()->second);
            ends.erase(ends.begin());
        }
        while (std::optional<CapturePick> pick = schedule.Next(now)) {
            if (!running.insert(pick->index).second) run.twice_at_once = true;
            run.begun[pick->index].push_back(now);
            run.full[pick->index].push_back(pick->full);
            ends.emplace(now + takes, pick->index);
        }
        run.most_at_once = std::max(run.most_at_once, static_cast<int>(running.size()));
    }
    return run;
}

std::vector<int32_t> Vms(int count) {
    std::vector<int32_t> vms;
    for (int i = 0; i < count; ++i) vms.push_back(i);
    return vms;
}

// The shortest time between two captures of one VM.
double ShortestGap(const std::vector<double>& times) {
    double gap = 1e9;
    for (std::size_t i = 1; i < times.size(); ++i) gap = std::min(gap, times[i] - times[i - 1]);
    return gap;
}

struct ScheduleRow {
    const char* name;
    int vms;
    double takes;  // seconds per capture
    int at_once;
    int captures_each;  // in 39.9 s at a 10 s interval
};

class ServePageSchedule : public testing::TestWithParam<ScheduleRow> {};

TEST_P(ServePageSchedule, CapturesEachVmOncePerIntervalAndNeverTwiceAtOnce) {
    const ScheduleRow& row = GetParam();
    CaptureSchedule schedule(CapturePace{10, 1, row.at_once});
    schedule.SetVms(Vms(row.vms));
    const Captures run = Drive(schedule, 39.9, 0.05, row.takes);
    EXPECT_FALSE(run.twice_at_once);
    EXPECT_LE(run.most_at_once, row.at_once);
    ASSERT_EQ(run.begun.size(), static_cast<std::size_t>(row.vms));
    for (const auto& [index, times] : run.begun) {
        EXPECT_EQ(times.size(), static_cast<std::size_t>(row.captures_each)) << index;
        EXPECT_GE(ShortestGap(times), 10 - 1e-9) << index;
        EXPECT_LE(times.front(), 10.0) << index;  // each VM's first within one interval
    }
}

INSTANTIATE_TEST_SUITE_P(
    ServePageScheduleRows, ServePageSchedule,
    testing::Values(ScheduleRow{"one_vm", 1, 0.2, 4, 4},
                    // 200 VMs at 4 at once of 0.2 s: exactly 20 a second fill the interval.
                    ScheduleRow{"two_hundred_vms_just_fit", 200, 0.2, 4, 4},
                    // A capture as long as the interval: never begun again while it runs.
                    ScheduleRow{"slow_capture", 2, 15, 4, 3},
                    ScheduleRow{"one_at_once", 3, 0.5, 1, 4}),
    RowName());

TEST(ServePageSchedule, TheFocusedVmEverySecondAtFullSize) {
    CaptureSchedule schedule(CapturePace{10, 1, 2});
    schedule.SetVms(Vms(5));
    schedule.Focus(3);
    const Captures run = Drive(schedule, 10, 0.05, 0.3);
    const std::vector<double>& times = run.begun.at(3);
    EXPECT_EQ(times.size(), 11u);  // 0, 1, ... 10
    EXPECT_GE(ShortestGap(times), 1 - 1e-9);
    for (bool full : run.full.at(3)) EXPECT_TRUE(full);
    EXPECT_EQ(run.begun.at(0).size(), 2u);  // the others keep their interval
    EXPECT_FALSE(run.full.at(0).front());
}

TEST(ServePageSchedule, ASlowFocusedCaptureIsNotBegunAgainWhileItRuns) {
    CaptureSchedule schedule(CapturePace{10, 1, 4});
    schedule.SetVms({7});
    schedule.Focus(7);
    const Captures run = Drive(schedule, 10, 0.05, 2.5);
    EXPECT_FALSE(run.twice_at_once);
    EXPECT_EQ(run.begun.at(7).size(), 5u);  // 0, 2.5, 5, 7.5, 10: each as the last one ended
}

TEST(ServePageSchedule, AFocusOnAStoppedVmCapturesNothingOfIt) {
    CaptureSchedule schedule(CapturePace{10, 1, 4});
    schedule.SetVms({1, 2});
    schedule.Focus(9);
    const Captures run = Drive(schedule, 5, 0.5, 0.1);
    EXPECT_EQ(run.begun.count(9), 0u);
    EXPECT_EQ(run.begun.at(1).size(), 1u);
}

TEST(ServePageSchedule, NoVmNothingDue) {
    CaptureSchedule schedule(CapturePace{10, 1, 4});
    EXPECT_FALSE(schedule.Next(0));
    EXPECT_FALSE(schedule.NextDue(0));
    schedule.SetVms({4});
    ASSERT_TRUE(schedule.Next(0));
    EXPECT_FALSE(schedule.NextDue(0));  // the one VM is running
    schedule.Done(4);
    EXPECT_DOUBLE_EQ(*schedule.NextDue(0.5), 10);
}

// The health loop's plan on a fake clock in tenths of a second: the page open over the
// given spans, every running VM's screen begun `screens_s` after the visit began, each round
// taking no time; the rounds begun, as "L@t" (a listing) or "H@t".
struct RoundsRow {
    const char* name;
    std::vector<std::pair<double, double>> open;  // [from, to)
    double until;
    std::vector<std::string> rounds;
    double screens_s = 0;
    bool first_listing_fails = false;
};

class ServePageRounds : public testing::TestWithParam<RoundsRow> {};

TEST_P(ServePageRounds, ListsAtStartAndChecksOnlyWhileAPageIsOpen) {
    const RoundsRow& row = GetParam();
    serve::RoundPlan plan(15, 10);
    std::vector<std::string> rounds;
    bool failed_once = false;
    for (int tenth = 0; tenth <= static_cast<int>(row.until * 10); ++tenth) {
        const double now = tenth / 10.0;
        bool open = false;
        for (const auto& [from, to] : row.open) open = open || (now >= from && now < to);
        for (;;) {
            const bool screens = now - plan.VisitBegan() >= row.screens_s;
            const serve::PageRound round = plan.Next(now, open, screens);
            if (round == serve::PageRound::kNone) break;
            char text[32];
            std::snprintf(text, sizeof text, "%c@%g",
                          round == serve::PageRound::kListing ? 'L' : 'H', now);
            rounds.push_back(text);
            if (round == serve::PageRound::kListing && row.first_listing_fails && !failed_once) {
                failed_once = true;
                plan.ListingFailed();
            }
            ASSERT_LT(rounds.size(), 100u) << "the plan never rests";
        }
    }
    EXPECT_EQ(rounds, row.rounds);
}

INSTANTIATE_TEST_SUITE_P(
    ServePageRoundsRows, ServePageRounds,
    testing::Values(
        RoundsRow{"no_page_lists_once", {}, 100, {"L@0"}},
        // The service's own listing is fresh: the visit goes straight to its health rounds, the
        // first once the screens have begun (here at once: seen at the next look).
        RoundsRow{
            "a_page_soon_after_the_start", {{0.5, 40}}, 60, {"L@0", "H@0.6", "H@15.6", "H@30.6"}},
        RoundsRow{"a_listing_just_younger_than_an_interval", {{14.9, 16}}, 20, {"L@0", "H@15"}},
        RoundsRow{
            "a_listing_one_interval_old_is_taken_again", {{15, 16}}, 20, {"L@0", "L@15", "H@15"}},
        RoundsRow{"a_late_page", {{100, 120}}, 130, {"L@0", "L@100", "H@100", "H@115"}},
        // A page back within the interval waits out the round it had.
        RoundsRow{"a_page_back_soon", {{1, 5}, {8, 20}}, 25, {"L@0", "H@1.1", "H@16.1"}},
        RoundsRow{"a_failed_start_lists_again_for_the_page",
                  {{3, 10}},
                  12,
                  {"L@0", "L@3", "H@3"},
                  0,
                  true},
        // The visit's first round waits for the screens; the later ones do not.
        RoundsRow{"the_first_round_waits_for_the_screens",
                  {{0.5, 20}},
                  25,
                  {"L@0", "H@4.5", "H@19.5"},
                  4},
        RoundsRow{"the_screens_are_waited_for_one_thumbnail_interval_at_most",
                  {{0.5, 30}},
                  35,
                  {"L@0", "H@10.5", "H@25.5"},
                  1000}),
    RowName());

TEST(ServePageRounds, TheWaitEndsWhenTheNextRoundIsDue) {
    serve::RoundPlan plan(15, 10);
    EXPECT_EQ(plan.Wait(0, false), 0);  // the start's listing is due
    ASSERT_EQ(plan.Next(0, false, true), serve::PageRound::kListing);
    EXPECT_EQ(plan.Wait(1, false), std::numeric_limits<double>::infinity());
    EXPECT_EQ(plan.Wait(1, true), 0);  // a page has come: its visit begins
    ASSERT_EQ(plan.Next(2, true, true), serve::PageRound::kNone);  // its screens are to come
    EXPECT_DOUBLE_EQ(plan.Wait(3, true), 9);                       // at most one thumbnail interval
    ASSERT_EQ(plan.Next(3, true, true), serve::PageRound::kHealth);
    EXPECT_DOUBLE_EQ(plan.Wait(5, true), 13);
    EXPECT_EQ(plan.Next(17.9, true, true), serve::PageRound::kNone);
    EXPECT_EQ(plan.Wait(18, true), 0);
}

TEST(ServePageSchedule, AllBegunOnceEveryVmsCaptureHasBegunSinceThen) {
    CaptureSchedule schedule(CapturePace{10, 1, 4});
    EXPECT_TRUE(schedule.AllBegunSince(5));  // no VM to capture
    schedule.SetVms({1, 2});
    ASSERT_TRUE(schedule.Next(4));
    EXPECT_FALSE(schedule.AllBegunSince(4));
    ASSERT_TRUE(schedule.Next(5));
    EXPECT_TRUE(schedule.AllBegunSince(4));     // at the boundary
    EXPECT_FALSE(schedule.AllBegunSince(4.5));  // one began before
}

struct WatchRow {
    const char* name;
    std::optional<double> seen;
    double now;
    bool open;
};

class ServePageWatch : public testing::TestWithParam<WatchRow> {};

TEST_P(ServePageWatch, APageIsOpenForTwoIntervalsAfterItsStateRequest) {
    const WatchRow& row = GetParam();
    serve::PageWatch watch(10);
    if (row.seen) watch.Seen(*row.seen);
    EXPECT_EQ(watch.Open(row.now), row.open);
}

INSTANTIATE_TEST_SUITE_P(ServePageWatchRows, ServePageWatch,
                         testing::Values(WatchRow{"never_asked", std::nullopt, 0, false},
                                         WatchRow{"just_asked", 5, 5, true},
                                         WatchRow{"at_two_intervals", 5, 25, true},
                                         WatchRow{"past_two_intervals", 5, 25.01, false}),
                         RowName());

// --- The state document ----------------------------------------------------------------------

// "农场-0" in UTF-8, as the health document holds it (this file's literals are GBK).
constexpr const char* kFarmTitle = "\xE5\x86\x9C\xE5\x9C\xBA-0";

Document Health(std::vector<std::tuple<int, const char*, bool, bool>> vms) {
    Document health;
    health["sampled_at"] = "2026-12-09T10:00:00Z";
    Document list = Document::array();
    for (const auto& [index, title, started, healthy] : vms) {
        Document vm;
        vm["index"] = index;
        vm["title"] = title;
        vm["started"] = started;
        vm["healthy"] = healthy;
        vm["cpu_ratio"] = started ? Document(0.25) : Document();
        vm["problems"] =
            healthy || !started ? Document::array() : Document::array({"adb does not answer"});
        list.push_back(vm);
    }
    health["vms"] = list;
    return health;
}

TEST(ServePageState, AChangeBumpsTheVersionAndNoChangeSendsNoBytes) {
    serve::PageState state({15, 10, false});
    const std::uint64_t empty = state.Version();
    ASSERT_TRUE(state.Since(std::nullopt));
    EXPECT_FALSE(state.Since(empty));

    EXPECT_TRUE(state.SetHealth(Health({{0, kFarmTitle, true, true}, {1, "b", false, false}})));
    const std::uint64_t first = state.Version();
    EXPECT_GT(first, empty);
    EXPECT_TRUE(state.Since(empty));
    EXPECT_FALSE(state.Since(first));

    // The same readings read again, at another time: no new version.
    Document again = Health({{0, kFarmTitle, true, true}, {1, "b", false, false}});
    again["sampled_at"] = "2026-12-09T10:00:15Z";
    EXPECT_FALSE(state.SetHealth(again));
    EXPECT_EQ(state.Version(), first);

    EXPECT_TRUE(state.SetHealth(Health({{0, kFarmTitle, true, false}, {1, "b", false, false}})));
    EXPECT_GT(state.Version(), first);
    const Document document = Document::parse(*state.Since(first));
    EXPECT_EQ(document["vms"][0]["title"], kFarmTitle);
    EXPECT_EQ(document["vms"][0]["reason"], "adb does not answer");
    EXPECT_EQ(document["version"], state.Version());
}

TEST(ServePageState, EachPictureHasItsOwnVersionAndGoesWithItsVm) {
    serve::PageState state({15, 10, true});
    state.SetHealth(Health({{0, "a", true, true}, {1, "b", true, true}}));
    const std::uint64_t before = state.Version();
    state.SetPicture(1, false, {"jpeg-1", "png", 1280, 720});
    state.SetPicture(1, false, {"jpeg-1", "", 1280, 720});
    state.SetPicture(1, true, {"full-1", "png-1", 720, 1280});
    EXPECT_GT(state.Version(), before);
    Document document = Document::parse(*state.Since(before));
    EXPECT_TRUE(document["vms"][0]["thumb"].is_null());
    EXPECT_EQ(document["vms"][1]["thumb"], 2);
    EXPECT_EQ(document["vms"][1]["full"], 1);
    EXPECT_EQ(document["vms"][1]["screen"], Document::array({720, 1280}));  // the full one's
    EXPECT_TRUE(state.Picture(1, false)->original.empty());  // a thumbnail keeps no original
    EXPECT_EQ(state.Picture(1, true)->original, "png-1");
    EXPECT_EQ(document["read_only"], true);
    ASSERT_TRUE(state.Picture(1, false));
    EXPECT_EQ(state.Picture(1, false)->bytes, "jpeg-1");

    state.SetHealth(Health({{0, "a", true, true}}));  // VM 1 is gone
    EXPECT_FALSE(state.Picture(1, false));
    EXPECT_FALSE(state.Picture(1, true));
}

TEST(ServePageState, AFailedRoundShowsItsProblemOnceAndKeepsTheTiles) {
    serve::PageState state({15, 10, false});
    state.SetHealth(Health({{0, "a", true, true}}));
    EXPECT_TRUE(state.SetProblem("no emulator"));
    EXPECT_FALSE(state.SetProblem("no emulator"));
    const Document document = Document::parse(*state.Since(std::nullopt));
    EXPECT_EQ(document["problem"], "no emulator");
    EXPECT_EQ(document["vms"].size(), 1u);
    EXPECT_TRUE(state.SetHealth(Health({{0, "a", true, true}})));  // the problem is cleared
    EXPECT_EQ(Document::parse(*state.Since(std::nullopt))["problem"], "");
}

// What is not a VM's reading is passed over: an entry that is no object, or has no whole
// number for its index.
TEST(ServePageState, AnEntryWithoutAnIndexIsNoTile) {
    serve::PageState state({15, 10, false});
    Document health = Health({{0, "a", true, true}});
    health["vms"].push_back("not a VM");
    health["vms"].push_back(Document{{"title", "no index"}});
    health["vms"].push_back(Document{{"index", "1"}, {"title", "a text index"}});
    EXPECT_TRUE(state.SetHealth(health));
    const Document document = Document::parse(*state.Since(std::nullopt));
    ASSERT_EQ(document["vms"].size(), 1u);
    EXPECT_EQ(document["vms"][0]["index"], 0);
}

// A `list --json` document: index, title, started, as the listing gives them.
Document Listing(std::vector<std::tuple<int, const char*, bool>> vms) {
    Document listing;
    listing["ok"] = true;
    Document list = Document::array();
    for (const auto& [index, title, started] : vms) {
        Document vm;
        vm["index"] = index;
        vm["title"] = title;
        vm["started"] = started;
        vm["pid"] = started ? 4000 + index : 0;
        list.push_back(vm);
    }
    listing["vms"] = list;
    return listing;
}

// A page's visit begins with a listing: its tiles come long before a health round's, with the
// state the listing tells and the verdict still to come; the round then fills the verdicts.
TEST(ServePageState, AListingDrawsTheTilesBeforeTheRoundAndTheRoundTheirVerdicts) {
    serve::PageState state({15, 10, false});
    EXPECT_EQ(Document::parse(*state.Since(std::nullopt))["checking"], true);  // nothing read
    state.SetHealth(Health({{0, "a", true, true}, {1, "b", true, true}, {2, "c", true, true}}));
    state.SetPicture(2, false, {"jpeg-2", "", 1280, 720});
    const std::uint64_t held = state.Version();

    // The next visit: VM 2 is gone, VM 1 stopped, VM 0's title changed.
    EXPECT_TRUE(state.SetListing(Listing({{0, kFarmTitle, true}, {1, "b", false}})));
    EXPECT_GT(state.Version(), held);
    Document document = Document::parse(*state.Since(held));
    EXPECT_EQ(document["checking"], true);
    ASSERT_EQ(document["vms"].size(), 2u);
    EXPECT_EQ(document["vms"][0]["title"], kFarmTitle);
    EXPECT_EQ(document["vms"][0]["started"], true);
    EXPECT_TRUE(document["vms"][0]["healthy"].is_null());  // last visit's verdict is not shown
    EXPECT_TRUE(document["vms"][0]["cpu_ratio"].is_null());
    EXPECT_EQ(document["vms"][1]["started"], false);
    EXPECT_FALSE(state.Picture(2, false));  // gone with its VM
    EXPECT_FALSE(state.SetListing(Listing({{0, kFarmTitle, true}, {1, "b", false}})));

    // The round: the same VMs, now with their verdicts.
    EXPECT_TRUE(state.SetHealth(Health({{0, kFarmTitle, true, false}, {1, "b", false, false}})));
    document = Document::parse(*state.Since(std::nullopt));
    EXPECT_EQ(document["checking"], false);
    EXPECT_EQ(document["vms"][0]["healthy"], false);
    EXPECT_EQ(document["vms"][0]["reason"], "adb does not answer");
}

TEST(ServePageState, ARoundThatFailsAfterTheListingEndsTheChecking) {
    serve::PageState state({15, 10, false});
    state.SetListing(Listing({{0, "a", true}}));
    const std::uint64_t listed = state.Version();
    EXPECT_TRUE(state.SetProblem(""));  // no words, but the checking is over
    const Document document = Document::parse(*state.Since(listed));
    EXPECT_EQ(document["checking"], false);
    EXPECT_EQ(document["vms"].size(), 1u);
}

// A round that reads the farm just as the listing did still ends the checking: the page must
// hear of it even though no tile changed.
TEST(ServePageState, ARoundEqualToTheListingIsStillANewDocument) {
    serve::PageState state({15, 10, false});
    Document health = Health({{0, "a", false, false}});
    health["vms"][0]["healthy"] = Document();
    health["vms"][0]["cpu_ratio"] = Document();
    state.SetListing(Listing({{0, "a", false}}));
    const std::uint64_t listed = state.Version();
    EXPECT_TRUE(state.SetHealth(health));
    EXPECT_GT(state.Version(), listed);
}

// --- Sessions and CSRF -----------------------------------------------------------------------

class CountingRandom : public serve::RandomSource {
public:
    bool Fill(unsigned char* bytes, std::size_t size) override {
        if (fail) return false;
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(next + i);
        ++next;
        return true;
    }
    bool fail = false;
    unsigned char next = 0;
};

struct CsrfRow {
    const char* name;
    bool same_session;
    const char* csrf;  // "*": the session's own
    bool valid;
};

class ServePageCsrf : public testing::TestWithParam<CsrfRow> {};

TEST_P(ServePageCsrf, OnlyTheSessionsOwnTokenPasses) {
    const CsrfRow& row = GetParam();
    CountingRandom random;
    serve::SessionBook book(random);
    const serve::PageSession mine = *book.Open();
    const serve::PageSession other = *book.Open();
    const std::string csrf = std::string(row.csrf) == "*" ? mine.csrf : row.csrf;
    EXPECT_EQ(book.CsrfMatches(row.same_session ? mine.id : other.id + "x", csrf), row.valid);
}

INSTANTIATE_TEST_SUITE_P(
    ServePageCsrfRows, ServePageCsrf,
    testing::Values(CsrfRow{"own_token", true, "*", true}, CsrfRow{"empty_token", true, "", false},
                    CsrfRow{"another_token", true, "00", false},
                    CsrfRow{"own_token_for_an_unknown_session", false, "*", false}),
    RowName());

TEST(ServePageSession, AnotherSessionsCsrfTokenDoesNotPass) {
    CountingRandom random;
    serve::SessionBook book(random);
    const serve::PageSession a = *book.Open();
    const serve::PageSession b = *book.Open();
    EXPECT_NE(a.id, b.id);
    EXPECT_TRUE(book.CsrfMatches(a.id, a.csrf));
    EXPECT_FALSE(book.CsrfMatches(a.id, b.csrf));
}

TEST(ServePageSession, KeepsTheNewestSessionsOnly) {
    CountingRandom random;
    serve::SessionBook book(random);
    const serve::PageSession first = *book.Open();
    serve::PageSession last;
    for (std::size_t i = 0; i < serve::kMostSessions; ++i) last = *book.Open();
    EXPECT_FALSE(book.Valid(first.id));
    EXPECT_TRUE(book.Valid(last.id));
}

TEST(ServePageSession, AFailedRandomSourceOpensNone) {
    CountingRandom random;
    random.fail = true;
    serve::SessionBook book(random);
    EXPECT_FALSE(book.Open());
}

TEST(ServePageSession, TheCookieIsHttpOnlyAndSameSiteStrict) {
    const std::string cookie = serve::SessionCookieHeader({"abc", "def"});
    EXPECT_EQ(cookie, "memufarm_session=abc; Path=/; HttpOnly; SameSite=Strict");
}

struct AddressRow {
    const char* name;
    const char* target;
    const char* without;
};

class ServePageAddress : public testing::TestWithParam<AddressRow> {};

TEST_P(ServePageAddress, TheTokenLeavesTheAddress) {
    EXPECT_EQ(serve::WithoutToken(GetParam().target), GetParam().without);
}

INSTANTIATE_TEST_SUITE_P(
    ServePageAddressRows, ServePageAddress,
    testing::Values(AddressRow{"token_alone", "/?token=abc", "/"},
                    AddressRow{"token_first", "/?token=abc&lang=zh", "/?lang=zh"},
                    AddressRow{"token_last", "/?lang=zh&token=abc", "/?lang=zh"},
                    AddressRow{"token_twice", "/?token=a&token=b", "/"},
                    AddressRow{"empty_token", "/?token=", "/"}, AddressRow{"no_query", "/", "/"},
                    AddressRow{"a_name_that_starts_alike", "/?tokens=1", "/?tokens=1"}),
    RowName());

// --- Which way in let a request in: the query token alone makes a session -----------------------

struct AdmittedRow {
    const char* name;
    const char* target;
    const char* authorization;  // null: none
    const char* cookie;         // null: none
    serve::Admitted by;
};

class ServePageAdmitted : public testing::TestWithParam<AdmittedRow> {};

TEST_P(ServePageAdmitted, SaysWhatLetTheRequestIn) {
    const AdmittedRow& row = GetParam();
    serve::DoorSettings settings;
    settings.hosts.listen = {"127.0.0.1", 8080};
    settings.token = std::string(64, 'a');
    settings.session_valid = [](std::string_view id) { return id == "live"; };
    serve::RequestHead request;
    request.method = "GET";
    request.target = row.target;
    request.headers.Add("Host", "127.0.0.1:8080");
    if (row.authorization) request.headers.Add("Authorization", row.authorization);
    if (row.cookie) request.headers.Add("Cookie", row.cookie);
    const serve::DoorDecision decision = serve::DecideDoor(request, settings);
    EXPECT_EQ(decision.by, row.by);
    EXPECT_EQ(decision.go_on, row.by != serve::Admitted::kNone);
    EXPECT_EQ(decision.session, row.by == serve::Admitted::kSession ? "live" : "");
}

const std::string kQueryToken = "/?token=" + std::string(64, 'a');

INSTANTIATE_TEST_SUITE_P(
    ServePageAdmittedRows, ServePageAdmitted,
    testing::Values(
        AdmittedRow{"query_token", kQueryToken.c_str(), nullptr, nullptr,
                    serve::Admitted::kQueryToken},
        // A wrong token in the address with a live cookie: the cookie, and no new session.
        AdmittedRow{"wrong_query_token_live_cookie", "/?token=b", nullptr, "memufarm_session=live",
                    serve::Admitted::kSession},
        AdmittedRow{"cookie", "/", nullptr, "memufarm_session=live", serve::Admitted::kSession},
        AdmittedRow{"bearer", "/",
                    "Bearer aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
                    nullptr, serve::Admitted::kBearer},
        AdmittedRow{"state_with_query_token",
                    "/api/page/"
                    "state?token=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
                    nullptr, nullptr, serve::Admitted::kNone},
        AdmittedRow{"nothing", "/", nullptr, nullptr, serve::Admitted::kNone}),
    RowName());

// --- The page's files and headers ------------------------------------------------------------

TEST(ServePageFiles, ThePageHoldsItsSessionsCsrfTokenAndLoadsNoInlineScript) {
    const std::string html = serve::PageHtml("c0ffee");
    EXPECT_NE(html.find("content=\"c0ffee\""), std::string::npos);
    EXPECT_EQ(html.find("{{CSRF}}"), std::string::npos);
    EXPECT_EQ(html.find("<script>"), std::string::npos);
    ASSERT_TRUE(serve::FindPageFile("/page.js"));
    EXPECT_FALSE(serve::FindPageFile("/page.html"));
    bool csp = false;
    for (const auto& [name, value] : serve::SecurityHeaders())
        if (std::string(name) == "Content-Security-Policy") {
            csp = true;
            EXPECT_NE(std::string(value).find("script-src 'self'"), std::string::npos);
            EXPECT_EQ(std::string(value).find("unsafe-inline"), std::string::npos);
        }
    EXPECT_TRUE(csp);
}

}  // namespace

// --- The page's doors, answered from the service's memory ------------------------------------

namespace {

std::string HeaderOf(const serve::PageReply& reply, const std::string& name) {
    for (const auto& [key, value] : reply.headers)
        if (key == name) return value;
    return "";
}

struct PageDoors {
    CountingRandom random;
    serve::PageService service{{15, 10, false}, {10, 1, 2}, random};

    serve::PageReply Ask(const std::string& target, serve::Door door,
                         serve::Admitted by = serve::Admitted::kSession,
                         const std::string& session = "", double now = 100) {
        serve::RequestHead request;
        request.method = "GET";
        request.target = target;
        serve::DoorDecision decision;
        decision.go_on = true;
        decision.door = door;
        decision.by = by;
        decision.session = session;
        return service.Answer(request, decision, now);
    }
};

}  // namespace

TEST(ServePageDoors, TheTokenOpensASessionAndTheCookieThePage) {
    PageDoors doors;
    const serve::PageReply login =
        doors.Ask("/?token=secret&lang=zh", serve::Door::kPage, serve::Admitted::kQueryToken);
    EXPECT_EQ(login.status, 303);
    EXPECT_EQ(HeaderOf(login, "Location"), "/?lang=zh");
    const std::string cookie = HeaderOf(login, "Set-Cookie");
    ASSERT_TRUE(cookie.starts_with("memufarm_session="));
    const std::string id = cookie.substr(17, cookie.find(';') - 17);
    ASSERT_TRUE(doors.service.Sessions().Valid(id));

    const serve::PageReply page =
        doors.Ask("/?lang=zh", serve::Door::kPage, serve::Admitted::kSession, id);
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.content_type, "text/html; charset=utf-8");
    const std::string csrf = *doors.service.Sessions().CsrfOf(id);
    EXPECT_NE(page.body.find(csrf), std::string::npos);
    EXPECT_EQ(page.body.find(id), std::string::npos);  // the cookie's value is not in the page
}

TEST(ServePageDoors, ASessionThatHasEndedGetsNoPage) {
    PageDoors doors;
    const serve::PageReply page =
        doors.Ask("/", serve::Door::kPage, serve::Admitted::kSession, "no-such-session");
    EXPECT_EQ(page.status, 401);
    EXPECT_EQ(page.body.find("csrf"), std::string::npos);
}

TEST(ServePageDoors, ThePagesOwnFilesAndNoOther) {
    PageDoors doors;
    const serve::PageReply script = doors.Ask("/page.js", serve::Door::kPageFile);
    EXPECT_EQ(script.status, 200);
    EXPECT_NE(script.content_type.find("javascript"), std::string::npos) << script.content_type;
    EXPECT_FALSE(script.body.empty());
    EXPECT_EQ(doors.Ask("/page.js?v=1", serve::Door::kPageFile).status, 200);
    EXPECT_EQ(doors.Ask("/other.js", serve::Door::kPageFile).status, 404);
}

TEST(ServePageDoors, TheStateOpensThePageAndAnUnchangedVersionGetsNoBytes) {
    PageDoors doors;
    EXPECT_FALSE(doors.service.PageOpen(100));
    EXPECT_FALSE(doors.service.NextCapture(100));  // no page: nothing is captured
    Document health = Health({{0, "a", true, true}, {1, "b", true, true}});
    doors.service.HealthRound(health);
    const serve::PageReply first = doors.Ask("/api/page/state?focus=1", serve::Door::kPageState);
    EXPECT_EQ(first.status, 200);
    const Document state = Document::parse(first.body);
    const serve::PageReply again =
        doors.Ask("/api/page/state?focus=1&since=" + std::to_string(state["version"].get<int>()),
                  serve::Door::kPageState);
    EXPECT_EQ(again.status, 204);
    EXPECT_TRUE(again.body.empty());
    EXPECT_TRUE(doors.service.PageOpen(120));
    EXPECT_FALSE(doors.service.PageOpen(120.5));
    const std::optional<serve::CapturePick> pick = doors.service.NextCapture(101);
    ASSERT_TRUE(pick);
    EXPECT_EQ(pick->index, 1);  // the focused VM first, at full size
    EXPECT_TRUE(pick->full);
    doors.service.CaptureDone(*pick, serve::PagePicture{"jpeg", "png", 1280, 720});
    EXPECT_EQ(doors
                  .Ask("/api/page/state?since=" + std::to_string(state["version"].get<int>()),
                       serve::Door::kPageState)
                  .status,
              200);
}

TEST(ServePageDoors, TheListingsRunningVmsAreCapturedBeforeAnyRound) {
    PageDoors doors;
    doors.service.Listing(Listing({{0, "a", false}, {1, "b", true}}));
    EXPECT_EQ(doors.Ask("/api/page/state", serve::Door::kPageState).status, 200);
    const std::optional<serve::CapturePick> pick = doors.service.NextCapture(101);
    ASSERT_TRUE(pick);
    EXPECT_EQ(pick->index, 1);  // the running one; the stopped VM has no screen to take
    EXPECT_FALSE(pick->full);
    EXPECT_FALSE(doors.service.NextCapture(101));  // VM 0 is stopped: nothing else is due
}

struct ImageRow {
    const char* name;
    const char* target;
    int status;
    const char* type;
    const char* cache;
};

class ServePageImage : public testing::TestWithParam<ImageRow> {};

TEST_P(ServePageImage, ServesAPictureByItsVersion) {
    const ImageRow& row = GetParam();
    PageDoors doors;
    doors.service.HealthRound(Health({{0, "a", true, true}, {1, "b", true, true}}));
    doors.service.CaptureDone({1, false}, serve::PagePicture{"thumb", "", 1280, 720});
    doors.service.CaptureDone({1, true}, serve::PagePicture{"full", "png", 1280, 720});
    const serve::PageReply reply = doors.Ask(row.target, serve::Door::kPageImage);
    EXPECT_EQ(reply.status, row.status);
    if (row.type) {
        EXPECT_EQ(reply.content_type, row.type);
    }
    EXPECT_EQ(HeaderOf(reply, "Cache-Control"), row.cache);
}

INSTANTIATE_TEST_SUITE_P(
    ServePageImageRows, ServePageImage,
    testing::Values(ImageRow{"its_version_kept", "/api/page/image?vm=1&v=1", 200, "image/jpeg",
                             "private, max-age=86400, immutable"},
                    ImageRow{"an_old_version_not_kept", "/api/page/image?vm=1&v=0", 200,
                             "image/jpeg", "no-store"},
                    ImageRow{"full_size", "/api/page/image?vm=1&full=1&v=1", 200, "image/jpeg",
                             "private, max-age=86400, immutable"},
                    ImageRow{"png_download", "/api/page/image?vm=1&format=png&download=1", 200,
                             "image/png", "no-store"},
                    ImageRow{"no_picture_yet", "/api/page/image?vm=0", 404, nullptr, "no-store"},
                    ImageRow{"no_vm", "/api/page/image", 400, nullptr, "no-store"},
                    ImageRow{"vm_not_a_number", "/api/page/image?vm=1x", 400, nullptr, "no-store"},
                    ImageRow{"vm_at_the_largest_index", "/api/page/image?vm=2147483647", 404,
                             nullptr, "no-store"},
                    ImageRow{"vm_too_large", "/api/page/image?vm=2147483648", 400, nullptr,
                             "no-store"}),
    RowName());

// A screen that came as pixels: its download is a PNG made when asked for, of those pixels; the
// next VM's full-size screen takes the place of its pixels.
TEST(ServePageImageFromPixels, ThePngDownloadIsMadeOfTheNewestFullScreen) {
    PageDoors doors;
    doors.service.HealthRound(Health({{0, "a", true, true}, {1, "b", true, true}}));
    auto screen = std::make_shared<image::Picture>(image::Picture{2, 1, {10, 20, 30, 40, 50, 60}});
    serve::PagePicture first{"full-1", "", 2, 1};
    first.screen = screen;
    doors.service.CaptureDone({1, true}, std::move(first));
    const serve::PageReply png =
        doors.Ask("/api/page/image?vm=1&full=1&format=png&download=1", serve::Door::kPageImage);
    ASSERT_EQ(png.status, 200);
    EXPECT_EQ(png.content_type, "image/png");
    const image::Decoded decoded = image::Decode(png.body, 100);
    ASSERT_TRUE(decoded.picture) << decoded.problem;
    EXPECT_EQ(decoded.picture->rgb, screen->rgb);
    EXPECT_EQ(doors.Ask("/api/page/image?vm=1&full=1", serve::Door::kPageImage).body, "full-1");

    serve::PagePicture second{"full-0", "", 2, 1};
    second.screen = screen;
    doors.service.CaptureDone({0, true}, std::move(second));
    EXPECT_EQ(doors.Ask("/api/page/image?vm=1&format=png", serve::Door::kPageImage).status, 404);
    EXPECT_EQ(doors.Ask("/api/page/image?vm=0&format=png", serve::Door::kPageImage).status, 200);
    // The JPEG of the first VM stays.
    EXPECT_EQ(doors.Ask("/api/page/image?vm=1&full=1", serve::Door::kPageImage).body, "full-1");
}
