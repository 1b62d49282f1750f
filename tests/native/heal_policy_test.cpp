#include "farm/health/heal_policy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "row_name.h"

namespace {

// One round on the fake clock. Each string has one character per VM, VM 0 first.
struct Round {
    double at;  // seconds on the steady clock
    // The reading: H healthy, U unhealthy, S not running; lower case while an action on the
    // VM is still in progress.
    const char* readings;
    // The decision: . nothing, S start, R restart, G gave up (over its budget), W healing.
    const char* expected;
    // How the action handed out this round ended, reported before the next round: . not
    // reported, o ok, f failed, t timed out. Empty: nothing reported.
    const char* ends = "";
    bool stop_first = false;  // the user asks to stop before this round
};

struct HealRow {
    const char* name;
    HealSettings settings;
    std::vector<Round> rounds;
};

void PrintTo(const HealRow& row, std::ostream* out) {
    *out << row.name;
}

HealReading ReadingOf(int32_t index, char code) {
    HealReading reading;
    reading.index = index;
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(code)));
    reading.running = upper != 'S';
    reading.healthy = upper == 'H';
    if (upper == 'U') reading.reason = "its window does not answer";
    return reading;
}

char CodeOf(const HealDecision& decision) {
    if (decision.state == HealState::kGaveUp) return 'G';
    if (decision.state == HealState::kHealing) return 'W';
    if (decision.action == HealAction::kStart) return 'S';
    if (decision.action == HealAction::kRestart) return 'R';
    return '.';
}

HealResult ResultOf(char code) {
    if (code == 'f') return HealResult::kFailed;
    if (code == 't') return HealResult::kTimedOut;
    return HealResult::kOk;
}

class HealPolicyTest : public testing::TestWithParam<HealRow> {};

TEST_P(HealPolicyTest, DecidesRoundByRound) {
    const HealRow& row = GetParam();
    HealPolicy policy(row.settings);
    for (size_t r = 0; r < row.rounds.size(); ++r) {
        const Round& round = row.rounds[r];
        SCOPED_TRACE("round " + std::to_string(r) + " at " + std::to_string(round.at) + " s");
        if (round.stop_first) policy.Stop();
        std::vector<HealReading> readings;
        std::set<int32_t> in_progress;
        const std::string codes = round.readings;
        for (size_t i = 0; i < codes.size(); ++i) {
            readings.push_back(ReadingOf(static_cast<int32_t>(i), codes[i]));
            if (std::islower(static_cast<unsigned char>(codes[i])))
                in_progress.insert(static_cast<int32_t>(i));
        }
        const HealRoundDecision decided = policy.Decide(readings, round.at, in_progress);
        ASSERT_EQ(decided.vms.size(), readings.size());
        std::string got;
        for (const HealDecision& decision : decided.vms) got += CodeOf(decision);
        EXPECT_EQ(got, round.expected);
        const std::string expected = round.expected;
        EXPECT_EQ(decided.gave_up, std::count(expected.begin(), expected.end(), 'G'));
        EXPECT_EQ(decided.healing, std::count(expected.begin(), expected.end(), 'W'));

        const std::string ends = round.ends;
        for (size_t i = 0; i < ends.size(); ++i) {
            if (ends[i] == '.') continue;
            ASSERT_NE(decided.vms[i].action, HealAction::kNone)
                << "row reports a result for VM " << i << " without an action";
            policy.Finished(decided.vms[i].index, decided.vms[i].action, ResultOf(ends[i]));
        }
    }
}

constexpr HealSettings kDefaults{};
constexpr HealSettings kShortWindow{2, 2, 60.0};  // two actions a minute
constexpr HealSettings kThreeRounds{3, 3, 3600.0};
constexpr HealSettings kOneAction{2, 1, 100.0};

INSTANTIATE_TEST_SUITE_P(
    Rows, HealPolicyTest,
    testing::Values(
        HealRow{
            "healthy VM is left alone", kDefaults, {{0, "H", "."}, {15, "H", "."}, {30, "H", "."}}},
        HealRow{"restart after exactly two unhealthy rounds, not after one",
                kDefaults,
                {{0, "H", "."}, {15, "U", "."}, {30, "U", "R"}}},
        HealRow{"a healthy round resets the count",
                kDefaults,
                {{0, "U", "."}, {15, "H", "."}, {30, "U", "."}, {45, "U", "R"}}},
        HealRow{"heal_after 3: two unhealthy rounds are not enough",
                kThreeRounds,
                {{0, "U", "."}, {15, "U", "."}, {30, "U", "R"}}},
        HealRow{"a VM that is not running is started at once", kDefaults, {{0, "S", "S"}}},
        HealRow{"a round not running resets the count",
                kDefaults,
                {{0, "U", "."}, {15, "S", "S"}, {30, "U", "."}, {45, "U", "R"}}},
        HealRow{"after a restart that worked, two unhealthy rounds again",
                kDefaults,
                {{0, "U", "."}, {15, "U", "R", "o"}, {30, "U", "."}, {45, "U", "R"}}},
        HealRow{"a failed restart is retried at the next unhealthy reading",
                kDefaults,
                {{0, "U", "."}, {15, "U", "R", "f"}, {30, "U", "R"}}},
        HealRow{"a timed-out restart is retried at the next unhealthy reading",
                kDefaults,
                {{0, "U", "."}, {15, "U", "R", "t"}, {30, "U", "R"}}},
        HealRow{"a healthy reading after a failed restart clears the retry",
                kDefaults,
                {{0, "U", "."}, {15, "U", "R", "f"}, {30, "H", "."}, {45, "U", "."}}},
        HealRow{"a start that timed out with the VM up but unhealthy is redone at once",
                kDefaults,
                {{0, "S", "S", "t"}, {15, "U", "R"}}},
        HealRow{"each VM counts on its own",
                kDefaults,
                {{0, "HUS", "..S", "..o"}, {15, "UUH", ".R."}, {30, "UHH", "R.."}}},
        HealRow{"an action in progress is neither counted nor acted on",
                kDefaults,
                {{0, "U", "."},
                 {15, "U", "R"},
                 {30, "u", "W"},
                 {45, "s", "W"},
                 {60, "u", "W"},
                 {75, "U", "."},
                 {90, "U", "R"}}},
        HealRow{"budget of three, the fourth gives up one second before the window edge",
                kDefaults,
                {{0, "S", "S"}, {10, "S", "S"}, {20, "S", "S"}, {30, "S", "G"}, {3599, "S", "G"}}},
        HealRow{
            "budget frees exactly at the window edge",
            kDefaults,
            {{0, "S", "S"}, {10, "S", "S"}, {20, "S", "S"}, {3599.5, "S", "G"}, {3600, "S", "S"}}},
        HealRow{"the window slides: each action leaves it on its own",
                kDefaults,
                {{0, "S", "S"},
                 {10, "S", "S"},
                 {20, "S", "S"},
                 {3600, "S", "S"},
                 {3609, "S", "G"},
                 {3610, "S", "S"}}},
        HealRow{"a shortened window: two a minute",
                kShortWindow,
                {{0, "S", "S"}, {30, "S", "S"}, {59, "S", "G"}, {60, "S", "S"}, {61, "S", "G"}}},
        HealRow{"a gave-up VM keeps its count and is restarted once the budget frees",
                kOneAction,
                {{0, "U", "."},
                 {1, "U", "R", "o"},
                 {2, "U", "."},
                 {3, "U", "G"},
                 {100, "U", "G"},
                 {101, "U", "R"}}},
        HealRow{"a VM that is healthy again is not counted as given up",
                kOneAction,
                {{0, "S", "S"}, {1, "S", "G"}, {2, "H", "."}}},
        HealRow{"gave-up VMs are counted",
                kOneAction,
                {{0, "SSH", "SS."}, {1, "SSU", "GG."}, {2, "SSU", "GGR"}}},
        HealRow{"no new action after the stop request",
                kDefaults,
                {{0, "UH", ".."}, {15, "US", "..", "", true}, {30, "US", ".."}}},
        HealRow{"a stop request leaves actions in progress as healing",
                kDefaults,
                {{0, "S", "S"}, {15, "s", "W", "", true}, {30, "S", "."}}}),
    RowName());

TEST(HealPolicyTotals, CountsEndedActionsByVmActionAndResult) {
    HealPolicy policy;
    policy.Finished(3, HealAction::kRestart, HealResult::kOk);
    policy.Finished(3, HealAction::kRestart, HealResult::kOk);
    policy.Finished(3, HealAction::kStart, HealResult::kTimedOut);
    policy.Finished(4, HealAction::kRestart, HealResult::kFailed);
    policy.Finished(4, HealAction::kNone, HealResult::kOk);  // nothing was handed out
    const HealTotals expected = {{{3, HealAction::kRestart, HealResult::kOk}, 2},
                                 {{3, HealAction::kStart, HealResult::kTimedOut}, 1},
                                 {{4, HealAction::kRestart, HealResult::kFailed}, 1}};
    EXPECT_EQ(policy.Totals(), expected);
}

}  // namespace
