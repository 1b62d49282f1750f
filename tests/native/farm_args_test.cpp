#include "cli/farm_args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "farm/verb_table.h"

namespace {

std::string DescribeSet(const VmSet& set) {
    switch (set.kind) {
        case VmSet::Kind::kAll:
            return "all";
        case VmSet::Kind::kRunning:
            return "running";
        case VmSet::Kind::kStopped:
            return "stopped";
        case VmSet::Kind::kIndexes:
            break;
    }
    if (set.single) return std::to_string(set.indexes.front());
    return std::to_string(set.indexes.front()) + ".." + std::to_string(set.indexes.back()) + "(" +
           std::to_string(set.indexes.size()) + ")";
}

// A compact view of what a command line asks for.
std::string Describe(const FarmRequest& r) {
    std::string d = r.verb->name;
    if (r.set) d += " set=" + DescribeSet(*r.set);
    for (int32_t n : r.numbers) d += " n=" + std::to_string(n);
    for (const std::string& t : r.texts) d += " t=" + t;
    if (r.wait) d += " wait";
    if (r.timeout_ms) d += " timeout=" + std::to_string(*r.timeout_ms);
    if (r.boot) d += " boot=" + std::to_string(static_cast<int>(r.boot_timeout_s));
    if (r.parallel != 1) d += " parallel=" + std::to_string(r.parallel);
    if (r.stagger_s != 0) d += " stagger=" + std::to_string(static_cast<int>(r.stagger_s * 10));
    if (r.by_package) d += " package";
    if (r.verb->kind == VerbKind::kClone) {
        d += " master=" + std::to_string(r.master) + " count=" + std::to_string(r.count) +
             " first=" + (r.first_next ? std::string("next") : std::to_string(r.first)) +
             " console=" + std::to_string(static_cast<int>(r.console));
        if (r.dry_run) d += " dry";
        if (r.randomize) d += " randomize";
    }
    if (r.verb->kind == VerbKind::kHealth) {
        d += " sample=" + std::to_string(static_cast<int>(r.sample_s * 10));
        if (r.watch_s) d += " watch=" + std::to_string(static_cast<int>(*r.watch_s));
        if (r.prom_file) d += " prom=" + *r.prom_file;
        if (r.max_cpu) d += " max-cpu=" + std::to_string(static_cast<int>(*r.max_cpu * 100));
        if (r.max_private_mb) d += " max-mb=" + std::to_string(static_cast<int>(*r.max_private_mb));
    }
    if (r.json) d += " json";
    if (r.install_dir) d += " dir=" + *r.install_dir;
    if (r.deadline_ms) d += " deadline=" + std::to_string(*r.deadline_ms);
    return d;
}

struct ParseRow {
    std::vector<std::string> args;
    // What the request reads as, or "!" + a part of the usage error, or "help"/"version".
    std::string expected;
};

class FarmArgsTest : public testing::TestWithParam<ParseRow> {};

TEST_P(FarmArgsTest, ReadsOrRefusesTheCommandLine) {
    const ParseRow& row = GetParam();
    const ParseOutcome outcome = ParseFarmArgs(row.args, "9.9.9");
    switch (outcome.kind) {
        case ParseOutcome::Kind::kRun:
            EXPECT_EQ(Describe(outcome.request), row.expected);
            break;
        case ParseOutcome::Kind::kUsageError:
            ASSERT_EQ(row.expected[0], '!') << outcome.text;
            EXPECT_NE(outcome.text.find(row.expected.substr(1)), std::string::npos) << outcome.text;
            break;
        case ParseOutcome::Kind::kHelp:
            EXPECT_EQ(row.expected, "help");
            break;
        case ParseOutcome::Kind::kVersion:
            EXPECT_EQ(row.expected, "version");
            EXPECT_EQ(outcome.text, "MEmuFarm 9.9.9\n");
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FarmArgsTest,
    testing::Values(
        // Good command lines; global options before or after the command.
        ParseRow{{"list"}, "list"},
        ParseRow{{"--json", "--install-dir", "D:\\Emu", "list"}, "list json dir=D:\\Emu"},
        ParseRow{{"list", "--json", "--deadline=2.5"}, "list json deadline=2500"},
        ParseRow{{"start", "3", "--wait", "--timeout", "60000"}, "start set=3 wait timeout=60000"},
        ParseRow{{"start", "101-150", "--parallel", "4", "--stagger", "2.5", "--boot"},
                 "start set=101..150(50) boot=180 parallel=4 stagger=25"},
        ParseRow{{"reboot", "all", "--boot", "--boot-timeout", "60", "--timeout", "500"},
                 "reboot set=all timeout=500 boot=60"},
        ParseRow{{"install", "running", "-p", "com.x", "--parallel", "8"},
                 "install set=running t=com.x parallel=8 package"},
        ParseRow{{"randomize", "3,5,101-110"}, "randomize set=3..110(12)"},
        ParseRow{{"stop", "0-9999"}, "stop set=0..9999(10000)"},
        ParseRow{
            {"clone", "--master", "2", "--count", "20", "--first", "121", "--console", "7.2.1"},
            "clone master=2 count=20 first=121 console=1"},
        ParseRow{
            {"clone", "--count=1", "--master=0", "--dry-run", "--first", "next", "--randomize"},
            "clone master=0 count=1 first=next console=0 dry randomize"},
        ParseRow{{"clone", "--master", "0", "--count", "1", "--first", "2147483647", "--randomize"},
                 "clone master=0 count=1 first=2147483647 console=0 randomize"},
        ParseRow{{"clone", "--master", "0", "--count", "100000"},
                 "clone master=0 count=100000 first=101 console=0"},
        ParseRow{{"tap", "1", "-5", "-10"}, "tap set=1 n=-5 n=-10"},
        ParseRow{{"swipe", "0", "1", "2", "3", "4"}, "swipe set=0 n=1 n=2 n=3 n=4"},
        ParseRow{{"setgps", "2", "116.39", "-39.9"}, "setgps set=2 t=116.39 t=-39.9"},
        ParseRow{{"create"}, "create t="},
        ParseRow{{"export", "4", "vm.ova"}, "export set=4 t=vm.ova"},
        ParseRow{{"text", "1", "--", "-x"}, "text set=1 t=-x"},
        ParseRow{{"adb", "1", "shell", "ls", "-l", "--json"},
                 "adb set=1 t=shell t=ls t=-l t=--json"},
        ParseRow{{"--json", "adb", "1", "-s", "x", "shell"}, "adb set=1 t=-s t=x t=shell json"},
        ParseRow{{"health"}, "health parallel=16 sample=10"},
        ParseRow{{"health", "running", "--sample", "0.5", "--watch", "15", "--prom", "m.prom",
                  "--max-cpu", "0.5", "--max-private-mb", "2048", "--parallel", "4"},
                 "health set=running parallel=4 sample=5 watch=15 prom=m.prom max-cpu=50 "
                 "max-mb=2048"},
        ParseRow{{"start", "--help"}, "help"}, ParseRow{{"--help"}, "help"},
        ParseRow{{"--version"}, "version"},
        // Bad command lines: each names what is wrong.
        ParseRow{{}, "!no command given"}, ParseRow{{"launch", "1"}, "!unknown command 'launch'"},
        ParseRow{{"start"}, "!missing SET"},
        ParseRow{{"start", "1", "2"}, "!unexpected argument '2' for start"},
        ParseRow{{"start", "x"}, "!SET 'x' is not a VM index"},
        ParseRow{{"start", "-1"}, "!SET '-1' is not a VM index"},
        ParseRow{{"start", "2147483648"}, "!SET '2147483648' is not a VM index"},
        ParseRow{{"start", "5-3"}, "!reversed range 5-3"},
        ParseRow{{"start", "1,"}, "!SET '1,' is not"},
        ParseRow{{"start", "0-10000"}, "!more than 10000 VMs"},
        ParseRow{{"start", "1", "--timeout", "5"}, "!--timeout needs --wait"},
        ParseRow{{"start", "1", "--wait", "--timeout", "-1"}, "!--timeout must be"},
        ParseRow{{"start", "1", "--boot-timeout", "5"}, "!--boot-timeout needs --boot"},
        ParseRow{{"start", "1", "--parallel", "65"}, "!--parallel must be"},
        ParseRow{{"start", "1", "--parallel", "0"}, "!--parallel must be"},
        ParseRow{{"start", "1", "--stagger", "x"}, "!--stagger must be"},
        ParseRow{{"tap", "1", "2"}, "!missing Y"},
        ParseRow{{"tap", "1", "2", "y"}, "!Y must be a whole number"},
        ParseRow{{"key", "1", "99999999999"}, "!CODE must be a whole number"},
        ParseRow{{"export", "1-3", "f.ova"}, "!INDEX must be a VM index"},
        ParseRow{{"clone", "--count", "3"}, "!missing --master"},
        ParseRow{{"clone", "--master", "0"}, "!missing --count"},
        ParseRow{{"clone", "--master", "0", "--count", "0"}, "!--count must be"},
        ParseRow{{"clone", "--master", "0", "--count", "100001"}, "!--count must be"},
        ParseRow{{"clone", "--master", "0", "--count", "1", "--first", "0"}, "!--first must be"},
        ParseRow{{"clone", "--master", "0", "--count", "2", "--first", "999999999999"},
                 "!beyond 999999999999"},
        ParseRow{{"clone", "--master", "0", "--count", "2", "--first", "2147483647", "--randomize"},
                 "!--randomize needs clone numbers up to 2147483647"},
        ParseRow{{"clone", "--master", "0", "--count", "1", "--console", "7.3"},
                 "!--console must be 7.2.1, 7.2.2 or none"},
        ParseRow{{"clone", "--master", "0", "--master", "1", "--count", "1"}, "!given twice"},
        ParseRow{{"start", "1", "--dry-run"}, "!unknown option '--dry-run' for start"},
        ParseRow{{"--wait", "start", "1"}, "!'--wait' goes after the command"},
        ParseRow{{"--dry-run", "list"}, "!unknown option '--dry-run' for list"},
        ParseRow{{"list", "--json=yes"}, "!--json takes no value"},
        ParseRow{{"list", "--deadline", "0"}, "!--deadline must be"},
        ParseRow{{"list", "--deadline"}, "!--deadline needs a value"},
        ParseRow{{"install", "1"}, "!missing APK"},
        ParseRow{{"install", "1", "a.apk", "-p", "com.x"}, "!not both"},
        ParseRow{{"adb", "1"}, "!missing ARGS"},
        ParseRow{{"text", "1", "-x"}, "!unknown option '-x' for text"},
        ParseRow{{"health", "--max-cpu", "1.5"}, "!--max-cpu must be a share of all cores"},
        ParseRow{{"health", "--sample", "0"}, "!--sample must be"},
        ParseRow{{"health", "--watch", "0.1"}, "!--watch must be"},
        ParseRow{{"health", "9-1"}, "!reversed range"}));

TEST(FarmArgs, UsageErrorsKnowWhetherJsonWasAskedFor) {
    EXPECT_TRUE(ParseFarmArgs({"--json", "launch"}, "1").request.json);
    EXPECT_TRUE(AsksForJson({"start", "x", "--json"}));
    EXPECT_FALSE(AsksForJson({"text", "1", "--", "--json"}));
}

}  // namespace
