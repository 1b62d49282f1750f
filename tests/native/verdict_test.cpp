// Every output reads a VM's verdict, and the set's counts, exit code and reason come from the
// verdicts alone: which verdict wins when a VM's facts point two ways, and what a set says.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/operations.h"
#include "farm/report/outcome_text.h"
#include "farm/run/set_summary.h"
#include "farm/command/verb_rows.h"
#include "farm/run/vm_result.h"
#include "row_name.h"

namespace {

struct JudgeRow {
    const char* name;
    VmResult facts;
    Verdict verdict;
    int exit_code;
};

VmResult Facts(bool ok, bool timed_out = false, bool deadline = false, bool started = true) {
    VmResult result;
    result.ok = ok;
    result.timed_out = timed_out || deadline;
    result.deadline_passed = deadline;
    result.started = started;
    return result;
}

VmResult Answered(bool running) {
    VmResult result = Facts(true);
    result.running = running;
    return result;
}

VmResult Detached() {
    VmResult result = Facts(true);
    result.detached = true;
    return result;
}

class JudgeTest : public testing::TestWithParam<JudgeRow> {};

TEST_P(JudgeTest, OneVerdictPerResult) {
    const JudgeRow& row = GetParam();
    EXPECT_EQ(Judge(row.facts), row.verdict);
    EXPECT_EQ(ExitCodeOf(row.verdict), row.exit_code);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, JudgeTest,
    testing::Values(JudgeRow{"ok", Facts(true), Verdict::kOk, 0},
                    JudgeRow{"failed", Facts(false), Verdict::kFailed, 1},
                    JudgeRow{"timed_out_outweighs_failed", Facts(false, true), Verdict::kTimedOut,
                             1},
                    JudgeRow{"deadline_outweighs_failed_and_timed_out", Facts(false, true, true),
                             Verdict::kDeadline, 4},
                    JudgeRow{"not_started_outweighs_all", Facts(false, true, true, false),
                             Verdict::kNotStarted, 1},
                    JudgeRow{"answered_running", Answered(true), Verdict::kOk, 0},
                    JudgeRow{"answered_not_running", Answered(false), Verdict::kNotRunning, 1},
                    JudgeRow{"unanswered_is_failed_not_not_running",
                             [] {
                                 VmResult r = Facts(false);
                                 r.running = false;
                                 return r;
                             }(),
                             Verdict::kFailed, 1},
                    JudgeRow{"detached", Detached(), Verdict::kDetached, 0}),
    RowName());

VmResult WithVerdict(int32_t index, Verdict verdict) {
    VmResult result;
    result.index = index;
    result.verdict = verdict;
    return result;
}

struct SetRow {
    const char* name;
    const char* verb;
    std::vector<Verdict> verdicts;
    int exit_code;
    const char* text;
    const char* message;
};

class SetSummaryTest : public testing::TestWithParam<SetRow> {};

TEST_P(SetSummaryTest, CountsExitCodeAndReasonFromTheVerdicts) {
    const SetRow& row = GetParam();
    std::vector<VmResult> results;
    for (size_t i = 0; i < row.verdicts.size(); ++i)
        results.push_back(WithVerdict(static_cast<int32_t>(i), row.verdicts[i]));
    const SetSummary summary = SummarizeSet(results, *FindVerb(row.verb));
    EXPECT_EQ(summary.exit_code, row.exit_code);
    EXPECT_EQ(summary.text, row.text);
    EXPECT_EQ(summary.message, row.message);
}

using V = Verdict;

INSTANTIATE_TEST_SUITE_P(
    Rows, SetSummaryTest,
    testing::Values(SetRow{"all_ok", "shake", {V::kOk, V::kOk}, 0, "2 VMs: 2 ok, 0 failed.", ""},
                    SetRow{"one_failed",
                           "shake",
                           {V::kOk, V::kFailed},
                           1,
                           "2 VMs: 1 ok, 1 failed.",
                           "1 of 2 VMs failed"},
                    SetRow{"running_and_not",
                           "running",
                           {V::kOk, V::kNotRunning},
                           1,
                           "2 VMs: 1 running, 1 not running, 0 failed.",
                           "1 of 2 VMs not running"},
                    SetRow{"all_running",
                           "running",
                           {V::kOk, V::kOk},
                           0,
                           "2 VMs: 2 running, 0 not running, 0 failed.",
                           ""},
                    SetRow{"deadline_wins_over_failed",
                           "shake",
                           {V::kFailed, V::kDeadline, V::kOk},
                           4,
                           "3 VMs: 1 ok, 1 failed, 1 passed the deadline.",
                           "2 of 3 VMs did not succeed: 1 failed, 1 passed the deadline"},
                    SetRow{"deadline_first_then_failed",
                           "shake",
                           {V::kDeadline, V::kFailed},
                           4,
                           "2 VMs: 0 ok, 1 failed, 1 passed the deadline.",
                           "2 of 2 VMs did not succeed: 1 failed, 1 passed the deadline"},
                    SetRow{"timed_out",
                           "start",
                           {V::kTimedOut, V::kOk},
                           1,
                           "2 VMs: 1 ok, 0 failed, 1 timed out.",
                           "1 of 2 VMs timed out"},
                    SetRow{"detached_is_success",
                           "start",
                           {V::kDetached, V::kDetached},
                           0,
                           "2 VMs: 0 ok, 2 started without waiting, 0 failed.",
                           ""},
                    SetRow{"not_started_after_ctrl_c",
                           "shake",
                           {V::kOk, V::kNotStarted},
                           1,
                           "2 VMs: 1 ok, 0 failed, 1 not started.",
                           "1 of 2 VMs not started"}),
    RowName());

// The per-VM line of text output: index, verdict, seconds, and the first output line or why.
TEST(ResultLine, ShowsTheVerdictAndTheFirstLineOrWhy) {
    VmResult ok = WithVerdict(7, Verdict::kOk);
    ok.ok = true;
    ok.seconds = 1.234;
    ok.output = "first\r\nsecond";
    EXPECT_EQ(ResultLine(ok), "7     ok             1.23s  first");
    VmResult late = WithVerdict(12, Verdict::kDeadline);
    late.seconds = 3;
    late.failure = "the deadline passed";
    late.output = "partial";
    EXPECT_EQ(ResultLine(late), "12    deadline       3.00s  the deadline passed");
    VmResult slow = WithVerdict(3, Verdict::kTimedOut);
    slow.failure = "no answer";
    EXPECT_EQ(ResultLine(slow), "3     timed out      0.00s  no answer");
}

struct BootRow {
    const char* name;
    const char* reply;
    bool booted;
};

class SaysBootedTest : public testing::TestWithParam<BootRow> {};

TEST_P(SaysBootedTest, OnlyTheAnswerOneIsBooted) {
    EXPECT_EQ(SaysBooted(GetParam().reply), GetParam().booted);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SaysBootedTest,
    testing::Values(BootRow{"one", "1", true}, BootRow{"one_with_line_end", "1\r\n", true},
                    BootRow{"one_with_blanks", " 1 \r\n", true}, BootRow{"zero", "0\r\n", false},
                    BootRow{"empty", "", false}, BootRow{"eleven", "11", false},
                    BootRow{"two_lines", "1\r\n1\r\n", false},
                    BootRow{"offline", "error: device offline\r\n", false}),
    RowName());

}  // namespace
