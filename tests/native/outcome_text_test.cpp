// The console's text printer over outcomes made by hand: which streams get what, for a
// listing, a health round and a VM's result line. The Wine suite pins the same bytes from the
// real program; these rows keep the printer's choices visible without it.
#include "farm/report/outcome_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/farm_args.h"
#include "farm/run/farm_run.h"
#include "row_name.h"

namespace {

std::string Same(std::string_view text) {
    return std::string(text);
}

// "out:...|err:...|json:..." in the order printed; consecutive pieces of one stream joined.
std::string Streams(const std::vector<Printout>& printed) {
    std::string text;
    Printout::Stream last = Printout::Stream::kJson;
    for (size_t i = 0; i < printed.size(); ++i) {
        const Printout& piece = printed[i];
        if (i == 0 || piece.stream != last) {
            if (i) text += "|";
            text += piece.stream == Printout::Stream::kOut     ? "out:"
                    : piece.stream == Printout::Stream::kError ? "err:"
                                                               : "json:";
        }
        text += piece.text;
        last = piece.stream;
    }
    return text;
}

VmRecord Vm(int32_t index, const char* title, bool started) {
    VmRecord vm;
    vm.index = index;
    vm.title = title;
    vm.started = started;
    return vm;
}

FarmOutcome Listed(bool ok, std::vector<VmRecord> vms, std::string output = "") {
    FarmListing listing;
    listing.step.ok = ok;
    listing.step.run.output = std::move(output);
    listing.vms = std::move(vms);
    FarmOutcome outcome;
    outcome.what = ListOutcome{listing};
    if (!ok) {
        outcome.exit_code = 1;
        outcome.ok = false;
        outcome.message = "memuc listvms failed";
    }
    return outcome;
}

FarmOutcome HealthOf(bool listed, std::string message) {
    HealthRound round;
    round.listed = listed;
    if (!listed) {  // as a round whose listing failed holds it
        round.exit_code = 1;
        round.failure = message;
    }
    round.report.sampled_at = 134116128000000000;  // 2025-12-31T00:00:00Z
    FarmOutcome outcome;
    outcome.what = round;
    outcome.message = std::move(message);
    if (!outcome.message.empty()) {
        outcome.exit_code = 1;
        outcome.ok = false;
    }
    return outcome;
}

struct PrintRow {
    const char* name;
    std::vector<std::string> args;
    FarmOutcome outcome;
    const char* printed;
};

void PrintTo(const PrintRow& row, std::ostream* out) {
    *out << row.name;
}

class OutcomeTextTest : public testing::TestWithParam<PrintRow> {};

TEST_P(OutcomeTextTest, PrintsWhatTheOutcomeHolds) {
    const PrintRow& row = GetParam();
    const ParseOutcome parsed = ParseFarmArgs(row.args, "1");
    ASSERT_EQ(parsed.kind, ParseOutcome::Kind::kRun) << parsed.text;
    EXPECT_EQ(Streams(OutcomeReport(parsed.request, row.outcome, Same)), row.printed);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OutcomeTextTest,
    testing::Values(
        PrintRow{"an_empty_farm_lists_its_header",
                 {"list"},
                 Listed(true, {}),
                 "out:index  title  window  inner_window  started  pid  headless_pid\n"},
        PrintRow{"a_farm_of_one",
                 {"list"},
                 Listed(true, {Vm(0, "MEmu", true)}),
                 "out:index  title  window  inner_window  started  pid  headless_pid\n"
                 "0      MEmu   0       0             yes      0    0\n"},
        PrintRow{"a_failed_listing_shows_the_tools_words_and_why_but_no_table",
                 {"list"},
                 Listed(false, {}, "no such file"),
                 "out:no such file\n|err:MEmuFarm: memuc listvms failed\n"},
        PrintRow{"a_health_round_of_an_empty_farm_prints_its_table",
                 {"health"},
                 HealthOf(true, ""),
                 "out:  index  title  run  pid  cpu  mem  private  window  adb  uptime  health\n"
                 "0 VMs, 0 running, 0 unhealthy (sampled 2025-12-31T00:00:00Z).\n"},
        PrintRow{"a_health_round_without_a_listing_prints_only_why",
                 {"health"},
                 HealthOf(false, "memuc listvms failed"),
                 "err:MEmuFarm: memuc listvms failed\n"},
        PrintRow{"a_health_round_asked_for_json_prints_its_document",
                 {"health", "--json"},
                 HealthOf(true, ""),
                 "json:{\"ok\":true,\"sampled_at\":\"2025-12-31T00:00:00Z\",\"running\":0,"
                 "\"unhealthy\":0,\"vms\":[]}\n"},
        PrintRow{"a_failed_health_round_asked_for_json_prints_its_document_and_why",
                 {"health", "--json"},
                 HealthOf(false, "memuc listvms failed"),
                 "json:{\"ok\":false,\"sampled_at\":\"2025-12-31T00:00:00Z\",\"running\":0,"
                 "\"unhealthy\":0,\"vms\":[],\"error\":{\"exit_code\":1,\"message\":"
                 "\"memuc listvms failed\"}}\n|err:MEmuFarm: memuc listvms failed\n"},
        PrintRow{"a_watch_has_printed_its_rounds_already",
                 {"health", "--watch", "15"},
                 HealthOf(true, "stopped by Ctrl+C"),
                 "err:MEmuFarm: stopped by Ctrl+C\n"}),
    RowName());

// The state column is one blank wider than its longest word; a failure without words of its
// own shows the tool's first line.
TEST(ResultLine, KeepsABlankAfterTheLongestStateAndShowsOutputWithoutAReason) {
    VmResult never;
    never.index = 5;
    never.verdict = Verdict::kNotStarted;
    never.failure = "Ctrl+C came first";
    EXPECT_EQ(ResultLine(never), "5     not started    0.00s  Ctrl+C came first");
    VmResult failed;
    failed.index = 1234567;
    failed.verdict = Verdict::kFailed;
    failed.output = "ERROR: no such VM\r\nmore";
    EXPECT_EQ(ResultLine(failed), "1234567failed         0.00s  ERROR: no such VM");
}

}  // namespace
