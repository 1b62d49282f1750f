#include "cli/farm_args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/farm_help.h"
#include "farm/command/grammar.h"
#include "row_name.h"

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
        if (r.heal)
            d += " heal after=" + std::to_string(r.heal_after) +
                 " restarts=" + std::to_string(r.max_restarts) +
                 " window=" + std::to_string(static_cast<int64_t>(r.heal_window_s * 10));
    }
    if (r.json) d += " json";
    if (r.install_dir) d += " dir=" + *r.install_dir;
    if (r.deadline_ms) d += " deadline=" + std::to_string(*r.deadline_ms);
    return d;
}

struct ParseRow {
    const char* name;
    std::vector<std::string> args;
    // What the request reads as, or "!" + a part of the usage error ("!^" + its beginning), or
    // "help"/"version".
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
            if (row.expected.rfind("!^", 0) == 0) {
                EXPECT_EQ(outcome.text.rfind(row.expected.substr(2), 0), 0u) << outcome.text;
            } else {
                EXPECT_NE(outcome.text.find(row.expected.substr(1)), std::string::npos)
                    << outcome.text;
            }
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
        ParseRow{"list", {"list"}, "list"},
        ParseRow{"json_install_dir_D___Emu_list",
                 {"--json", "--install-dir", "D:\\Emu", "list"},
                 "list json dir=D:\\Emu"},
        ParseRow{"list_json_deadline_2_5",
                 {"list", "--json", "--deadline=2.5"},
                 "list json deadline=2500"},
        ParseRow{"start_3_wait_timeout_60000",
                 {"start", "3", "--wait", "--timeout", "60000"},
                 "start set=3 wait timeout=60000"},
        ParseRow{"start_101_150_parallel_4_stagger_2_5_boot",
                 {"start", "101-150", "--parallel", "4", "--stagger", "2.5", "--boot"},
                 "start set=101..150(50) boot=180 parallel=4 stagger=25"},
        ParseRow{"reboot_all_boot_boot_timeout_60_timeout_500",
                 {"reboot", "all", "--boot", "--boot-timeout", "60", "--timeout", "500"},
                 "reboot set=all timeout=500 boot=60"},
        ParseRow{"install_running_p_com_x_parallel_8",
                 {"install", "running", "-p", "com.x", "--parallel", "8"},
                 "install set=running t=com.x parallel=8 package"},
        ParseRow{"randomize_3_5_101_110", {"randomize", "3,5,101-110"}, "randomize set=3..110(12)"},
        ParseRow{"stop_0_9999", {"stop", "0-9999"}, "stop set=0..9999(10000)"},
        ParseRow{
            "clone_master_2_count_20_first_121_console_7_2_1",
            {"clone", "--master", "2", "--count", "20", "--first", "121", "--console", "7.2.1"},
            "clone master=2 count=20 first=121 console=1"},
        ParseRow{
            "clone_count_1_master_0_dry_run_first_next_randomiz",
            {"clone", "--count=1", "--master=0", "--dry-run", "--first", "next", "--randomize"},
            "clone master=0 count=1 first=next console=0 dry randomize"},
        ParseRow{"clone_master_0_count_1_first_2147483647_randomize",
                 {"clone", "--master", "0", "--count", "1", "--first", "2147483647", "--randomize"},
                 "clone master=0 count=1 first=2147483647 console=0 randomize"},
        ParseRow{"clone_master_0_count_100000",
                 {"clone", "--master", "0", "--count", "100000"},
                 "clone master=0 count=100000 first=101 console=0"},
        ParseRow{"tap_1_5_10", {"tap", "1", "-5", "-10"}, "tap set=1 n=-5 n=-10"},
        ParseRow{
            "swipe_0_1_2_3_4", {"swipe", "0", "1", "2", "3", "4"}, "swipe set=0 n=1 n=2 n=3 n=4"},
        ParseRow{"setgps_2_116_39_39_9",
                 {"setgps", "2", "116.39", "-39.9"},
                 "setgps set=2 t=116.39 t=-39.9"},
        ParseRow{"setgps_at_the_lowest_corner",
                 {"setgps", "2", "-180", "-90"},
                 "setgps set=2 t=-180 t=-90"},
        ParseRow{
            "mcp_within_a_set_of_vms", {"mcp", "--vms", "1-3"}, "mcp parallel=16 deadline=600000"},
        ParseRow{"mcp_within_no_set", {"mcp", "--vms", "3-"}, "!^--vms: "},
        ParseRow{"create", {"create"}, "create t=51"},
        ParseRow{"export_4_vm_ova", {"export", "4", "vm.ova"}, "export set=4 t=vm.ova"},
        ParseRow{"text_1__x", {"text", "1", "--", "-x"}, "text set=1 t=-x"},
        ParseRow{"text_a_lone_minus", {"text", "1", "-"}, "text set=1 t=-"},
        ParseRow{"adb_1_shell_ls_l_json",
                 {"adb", "1", "shell", "ls", "-l", "--json"},
                 "adb set=1 t=shell t=ls t=-l t=--json"},
        ParseRow{"json_adb_1_s_x_shell",
                 {"--json", "adb", "1", "-s", "x", "shell"},
                 "adb set=1 t=-s t=x t=shell json"},
        ParseRow{"health", {"health"}, "health parallel=16 sample=10"},
        ParseRow{"health_running_sample_0_5_watch_15_prom_m_prom_max",
                 {"health", "running", "--sample", "0.5", "--watch", "15", "--prom", "m.prom",
                  "--max-cpu", "0.5", "--max-private-mb", "2048", "--parallel", "4"},
                 "health set=running parallel=4 sample=5 watch=15 prom=m.prom max-cpu=50 "
                 "max-mb=2048"},
        ParseRow{"start_help", {"start", "--help"}, "help"}, ParseRow{"help", {"--help"}, "help"},
        ParseRow{"version", {"--version"}, "version"},
        // Bad command lines: each names what is wrong.
        ParseRow{"nothing", {}, "!no command given"},
        ParseRow{"deadline_alone", {"--deadline"}, "!^--deadline needs a value"},
        ParseRow{"launch_1", {"launch", "1"}, "!unknown command 'launch'"},
        ParseRow{"start", {"start"}, "!missing SET"},
        ParseRow{"start_1_2", {"start", "1", "2"}, "!unexpected argument '2' for start"},
        ParseRow{"start_x", {"start", "x"}, "!SET 'x' is not a VM index"},
        ParseRow{"start_1", {"start", "-1"}, "!SET '-1' is not a VM index"},
        ParseRow{"start_2147483647", {"start", "2147483647"}, "start set=2147483647"},
        ParseRow{
            "start_2147483648", {"start", "2147483648"}, "!SET '2147483648' is not a VM index"},
        ParseRow{"start_5_3", {"start", "5-3"}, "!reversed range 5-3"},
        ParseRow{"start_1_", {"start", "1,"}, "!SET '1,' is not"},
        ParseRow{"start_0_10000", {"start", "0-10000"}, "!more than 10000 VMs"},
        ParseRow{
            "stop_two_ranges_of_10000", {"stop", "0-4999,5000-9999"}, "stop set=0..9999(10000)"},
        ParseRow{
            "start_two_ranges_past_10000", {"start", "0-4999,5000-10000"}, "!more than 10000 VMs"},
        ParseRow{"start_1_timeout_5", {"start", "1", "--timeout", "5"}, "!--timeout needs --wait"},
        ParseRow{"start_1_wait_timeout_1",
                 {"start", "1", "--wait", "--timeout", "-1"},
                 "!--timeout must be"},
        ParseRow{"start_1_boot_timeout_5",
                 {"start", "1", "--boot-timeout", "5"},
                 "!--boot-timeout needs --boot"},
        ParseRow{"start_1_parallel_65", {"start", "1", "--parallel", "65"}, "!--parallel must be"},
        ParseRow{"start_1_parallel_0", {"start", "1", "--parallel", "0"}, "!--parallel must be"},
        ParseRow{"start_1_stagger_x", {"start", "1", "--stagger", "x"}, "!--stagger must be"},
        ParseRow{"tap_1_2", {"tap", "1", "2"}, "!missing Y"},
        ParseRow{"tap_1_2_y", {"tap", "1", "2", "y"}, "!Y must be a whole number"},
        ParseRow{"key_1_99999999999", {"key", "1", "99999999999"}, "!CODE must be a whole number"},
        ParseRow{"export_1_3_f_ova", {"export", "1-3", "f.ova"}, "!INDEX must be a VM index"},
        ParseRow{"clone_count_3", {"clone", "--count", "3"}, "!missing --master"},
        ParseRow{"clone_master_0", {"clone", "--master", "0"}, "!missing --count"},
        ParseRow{"clone_master_0_count_0",
                 {"clone", "--master", "0", "--count", "0"},
                 "!--count must be"},
        ParseRow{"clone_master_0_count_100001",
                 {"clone", "--master", "0", "--count", "100001"},
                 "!--count must be"},
        ParseRow{"clone_master_0_count_1_first_0",
                 {"clone", "--master", "0", "--count", "1", "--first", "0"},
                 "!--first must be"},
        ParseRow{"clone_master_0_count_1_console_7_3",
                 {"clone", "--master", "0", "--count", "1", "--console", "7.3"},
                 "!--console must be 7.2.1, 7.2.2 or none"},
        ParseRow{"clone_master_0_master_1_count_1",
                 {"clone", "--master", "0", "--master", "1", "--count", "1"},
                 "!given twice"},
        ParseRow{"start_1_dry_run",
                 {"start", "1", "--dry-run"},
                 "!unknown option '--dry-run' for start"},
        ParseRow{"wait_start_1", {"--wait", "start", "1"}, "!'--wait' goes after the command"},
        ParseRow{"dry_run_list", {"--dry-run", "list"}, "!unknown option '--dry-run' for list"},
        ParseRow{"list_json_yes", {"list", "--json=yes"}, "!--json takes no value"},
        ParseRow{"list_deadline_0", {"list", "--deadline", "0"}, "!--deadline must be"},
        ParseRow{"list_deadline", {"list", "--deadline"}, "!^--deadline needs a value"},
        ParseRow{"install_1", {"install", "1"}, "!missing APK"},
        ParseRow{"install_1_a_apk_p_com_x",
                 {"install", "1", "a.apk", "-p", "com.x"},
                 "!give APK or -p PACKAGE, not both"},
        ParseRow{"adb_1", {"adb", "1"}, "!missing ARGS"},
        ParseRow{"text_1_x", {"text", "1", "-x"}, "!put -- before it"},
        ParseRow{"health_max_cpu_1_5",
                 {"health", "--max-cpu", "1.5"},
                 "!--max-cpu must be a share of all cores"},
        ParseRow{"health_sample_0", {"health", "--sample", "0"}, "!--sample must be"},
        ParseRow{"health_watch_0_1", {"health", "--watch", "0.1"}, "!--watch must be"},
        ParseRow{"health_9_1", {"health", "9-1"}, "!reversed range"},
        // Limits: the highest value taken next to the lowest refused, for every number.
        ParseRow{"timeout_highest",
                 {"stop", "1", "--wait", "--timeout", "2147483647"},
                 "stop set=1 wait timeout=2147483647"},
        ParseRow{"timeout_beyond",
                 {"stop", "1", "--wait", "--timeout", "2147483648"},
                 "!--timeout must be a whole number of milliseconds from 0 to 2147483647"},
        ParseRow{"timeout_lowest",
                 {"stop", "1", "--wait", "--timeout", "0"},
                 "stop set=1 wait timeout=0"},
        ParseRow{"parallel_highest", {"stop", "1", "--parallel", "64"}, "stop set=1 parallel=64"},
        ParseRow{"parallel_lowest", {"stop", "1", "--parallel", "1"}, "stop set=1"},
        ParseRow{"stagger_highest",
                 {"stop", "1", "--stagger", "2147483"},
                 "stop set=1 stagger=21474830"},
        ParseRow{"stagger_beyond",
                 {"stop", "1", "--stagger", "2147483.5"},
                 "!--stagger must be a number of seconds from 0 to 2147483"},
        ParseRow{"stagger_negative", {"stop", "1", "--stagger", "-1"}, "!--stagger must be"},
        ParseRow{"boot_timeout_lowest",
                 {"start", "1", "--boot", "--boot-timeout", "1"},
                 "start set=1 boot=1"},
        ParseRow{"boot_timeout_below",
                 {"start", "1", "--boot", "--boot-timeout", "0.9"},
                 "!--boot-timeout must be a number of seconds from 1 to 2147483"},
        ParseRow{"master_highest",
                 {"clone", "--master", "2147483647", "--count", "1"},
                 "clone master=2147483647 count=1 first=101 console=0"},
        ParseRow{"master_beyond",
                 {"clone", "--master", "2147483648", "--count", "1"},
                 "!--master must be a VM index from 0 to 2147483647"},
        ParseRow{"first_lowest",
                 {"clone", "--master", "0", "--count", "1", "--first", "1"},
                 "clone master=0 count=1 first=1 console=0"},
        ParseRow{"first_highest",
                 {"clone", "--master", "0", "--count", "1", "--first", "999999999999"},
                 "clone master=0 count=1 first=999999999999 console=0"},
        ParseRow{"first_beyond",
                 {"clone", "--master", "0", "--count", "1", "--first", "1000000000000"},
                 "!--first must be a clone number from 1 to 999999999999, or next"},
        ParseRow{"sample_lowest", {"health", "--sample", "0.1"}, "health parallel=16 sample=1"},
        ParseRow{"sample_below",
                 {"health", "--sample", "0.09"},
                 "!--sample must be a number of seconds from 0.1 to 3600"},
        ParseRow{
            "sample_highest", {"health", "--sample", "3600"}, "health parallel=16 sample=36000"},
        ParseRow{"sample_beyond", {"health", "--sample", "3600.1"}, "!--sample must be"},
        ParseRow{
            "watch_lowest", {"health", "--watch", "0.5"}, "health parallel=16 sample=10 watch=0"},
        ParseRow{"watch_below", {"health", "--watch", "0.49"}, "!--watch must be"},
        ParseRow{"heal_defaults",
                 {"health", "--watch", "5", "--heal"},
                 "health parallel=16 sample=10 watch=5 heal after=2 restarts=3 window=36000"},
        ParseRow{"heal_without_watch", {"health", "--heal"}, "!--heal needs --watch"},
        ParseRow{"heal_after_without_heal",
                 {"health", "--watch", "5", "--heal-after", "3"},
                 "!--heal-after needs --heal"},
        ParseRow{"max_restarts_without_heal",
                 {"health", "--watch", "5", "--max-restarts", "3"},
                 "!--max-restarts needs --heal"},
        ParseRow{"heal_window_without_heal",
                 {"health", "--watch", "5", "--heal-window", "60"},
                 "!--heal-window needs --heal"},
        ParseRow{"heal_not_for_start", {"start", "1", "--heal"}, "!--heal"},
        ParseRow{"heal_after_lowest",
                 {"health", "--watch", "5", "--heal", "--heal-after", "1"},
                 "health parallel=16 sample=10 watch=5 heal after=1 restarts=3 window=36000"},
        ParseRow{"heal_after_below",
                 {"health", "--watch", "5", "--heal", "--heal-after", "0"},
                 "!--heal-after must be a whole number of rounds from 1 to 1000"},
        ParseRow{"heal_after_highest",
                 {"health", "--watch", "5", "--heal", "--heal-after", "1000"},
                 "health parallel=16 sample=10 watch=5 heal after=1000 restarts=3 window=36000"},
        ParseRow{"heal_after_beyond",
                 {"health", "--watch", "5", "--heal", "--heal-after", "1001"},
                 "!--heal-after must be"},
        ParseRow{"max_restarts_lowest",
                 {"health", "--watch", "5", "--heal", "--max-restarts", "1"},
                 "health parallel=16 sample=10 watch=5 heal after=2 restarts=1 window=36000"},
        ParseRow{"max_restarts_below",
                 {"health", "--watch", "5", "--heal", "--max-restarts", "0"},
                 "!--max-restarts must be a whole number from 1 to 1000"},
        ParseRow{"max_restarts_highest",
                 {"health", "--watch", "5", "--heal", "--max-restarts", "1000"},
                 "health parallel=16 sample=10 watch=5 heal after=2 restarts=1000 window=36000"},
        ParseRow{"max_restarts_beyond",
                 {"health", "--watch", "5", "--heal", "--max-restarts", "1001"},
                 "!--max-restarts must be"},
        ParseRow{"heal_window_lowest",
                 {"health", "--watch", "5", "--heal", "--heal-window", "1"},
                 "health parallel=16 sample=10 watch=5 heal after=2 restarts=3 window=10"},
        ParseRow{"heal_window_below",
                 {"health", "--watch", "5", "--heal", "--heal-window", "0.99"},
                 "!--heal-window must be a number of seconds from 1 to 2147483"},
        ParseRow{"heal_window_highest",
                 {"health", "--watch", "5", "--heal", "--heal-window", "2147483"},
                 "health parallel=16 sample=10 watch=5 heal after=2 restarts=3 window=21474830"},
        ParseRow{"heal_window_beyond",
                 {"health", "--watch", "5", "--heal", "--heal-window", "2147483.5"},
                 "!--heal-window must be"},
        ParseRow{"max_cpu_highest",
                 {"health", "--max-cpu", "1"},
                 "health parallel=16 sample=10 max-cpu=100"},
        ParseRow{"max_cpu_beyond", {"health", "--max-cpu", "1.01"}, "!--max-cpu must be"},
        ParseRow{"max_mb_highest",
                 {"health", "--max-private-mb", "10000000"},
                 "health parallel=16 sample=10 max-mb=10000000"},
        ParseRow{"max_mb_beyond",
                 {"health", "--max-private-mb", "10000000.5"},
                 "!--max-private-mb must be a number of MiB from 0 to 10000000"},
        ParseRow{"deadline_lowest", {"list", "--deadline", "0.001"}, "list deadline=1"},
        ParseRow{"deadline_below",
                 {"list", "--deadline", "0.0009"},
                 "!--deadline must be a number of seconds from 0.001 to 2147483"},
        ParseRow{"deadline_highest", {"list", "--deadline", "2147483"}, "list deadline=2147483000"},
        ParseRow{"deadline_beyond", {"list", "--deadline", "2147483.001"}, "!--deadline must be"},
        ParseRow{
            "index_highest", {"export", "2147483647", "f.ova"}, "export set=2147483647 t=f.ova"},
        ParseRow{"number_highest",
                 {"tap", "1", "2147483647", "-2147483648"},
                 "tap set=1 n=2147483647 n=-2147483648"},
        ParseRow{"number_beyond", {"tap", "1", "2147483648", "0"}, "!X must be a whole number"},
        ParseRow{"number_below", {"tap", "1", "0", "-2147483649"}, "!Y must be a whole number"},
        ParseRow{"number_with_plus", {"key", "1", "+3"}, "!CODE must be a whole number"},
        ParseRow{"number_with_blank", {"key", "1", " 3"}, "!CODE must be a whole number"},
        // Texts arrive exactly as given: blanks kept, no default for a blank one.
        ParseRow{"text_with_blanks", {"text", "1", " a b "}, "text set=1 t= a b "},
        ParseRow{"sendkey_leading_blank", {"sendkey", "1", " lead"}, "sendkey set=1 t= lead"},
        ParseRow{"package_leading_blank",
                 {"install", "1", "-p", " lead"},
                 "install set=1 t= lead package"},
        ParseRow{"create_blank_type", {"create", "   "}, "create t=   "},
        ParseRow{"create_empty_type", {"create", ""}, "create t="},
        ParseRow{"create_type_after_dashes", {"create", "--", "--json"}, "create t=--json"},
        ParseRow{"create_json_in_type_place", {"create", "--json"}, "!put -- before it"},
        ParseRow{"create_nothing_after_dashes", {"create", "--"}, "!-- is not followed by TYPE"},
        ParseRow{"create_json_before", {"--json", "create"}, "create t=51 json"},
        ParseRow{"create_json_after_type", {"create", "52", "--json"}, "create t=52 json"},
        // adb: every word after the SET is adb's.
        ParseRow{"adb_help_is_adbs", {"adb", "1", "--help"}, "adb set=1 t=--help"},
        ParseRow{
            "adb_version_is_adbs", {"adb", "1", "--version", "-h"}, "adb set=1 t=--version t=-h"},
        ParseRow{"adb_dashes_are_adbs", {"adb", "1", "--", "x"}, "adb set=1 t=-- t=x"},
        ParseRow{"adb_help_before_set", {"adb", "--help"}, "help"},
        ParseRow{"adb_our_option_names_are_adbs",
                 {"adb", "1", "shell", "ls", "--parallel", "3"},
                 "adb set=1 t=shell t=ls t=--parallel t=3"},
        ParseRow{"adb_our_option_with_its_value_is_adbs",
                 {"adb", "1", "shell", "--timeout=5", "ls"},
                 "adb set=1 t=shell t=--timeout=5 t=ls"},
        ParseRow{"adb_first_word_an_option", {"adb", "1", "--json"}, "adb set=1 t=--json"},
        ParseRow{"adb_own_options_before_the_set",
                 {"--deadline=2", "adb", "1", "shell", "ls"},
                 "adb set=1 t=shell t=ls deadline=2000"},
        // An option given with '=' takes no further word: the words after it are read on.
        ParseRow{"option_with_equals_then_the_set",
                 {"start", "--timeout=500", "3", "--wait"},
                 "start set=3 wait timeout=500"},
        ParseRow{"option_with_equals_then_another_option",
                 {"start", "3", "--timeout=500", "--wait"},
                 "start set=3 wait timeout=500"},
        ParseRow{"options_with_equals_side_by_side",
                 {"start", "1-4", "--parallel=2", "--stagger=1.5", "--boot"},
                 "start set=1..4(4) boot=180 parallel=2 stagger=15"},
        // Help and version only where no argument is expected.
        ParseRow{"help_after_text", {"text", "1", "hi", "--help"}, "help"},
        ParseRow{"version_after_numbers", {"tap", "1", "5", "6", "--version"}, "version"},
        ParseRow{"help_in_set_place", {"text", "--help"}, "help"},
        // The first word after the command asks for its help, whatever its first argument.
        ParseRow{"help_in_type_place", {"create", "--help"}, "help"},
        ParseRow{"short_help_in_file_place", {"import", "-h"}, "help"},
        ParseRow{"help_after_the_type", {"create", "52", "--help"}, "help"},
        ParseRow{"help_in_a_later_text_place", {"text", "1", "-h"}, "!stands where TEXT goes"},
        ParseRow{"help_after_dashes_is_the_text", {"create", "--", "--help"}, "create t=--help"},
        ParseRow{"install_package_option_in_apk_place",
                 {"install", "1", "--parallel", "2", "a.apk"},
                 "install set=1 t=a.apk parallel=2"}),
    RowName());

struct JsonPlaceRow {
    const char* name;
    std::vector<std::string> args;
    bool json;
};

class JsonPlaceTest : public testing::TestWithParam<JsonPlaceRow> {};

// --json among the program's own words makes a refusal a document, wherever it was refused.
TEST_P(JsonPlaceTest, ARefusalIsADocumentWhenJsonStandsAmongTheProgramsWords) {
    const JsonPlaceRow& row = GetParam();
    const ParseOutcome outcome = ParseFarmArgs(row.args, "1");
    ASSERT_EQ(outcome.kind, ParseOutcome::Kind::kUsageError) << outcome.text;
    EXPECT_EQ(outcome.request.json, row.json);
    EXPECT_EQ(AsksForJson(row.args), row.json);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, JsonPlaceTest,
    testing::Values(JsonPlaceRow{"unknown_command", {"bogus", "--json"}, true},
                    JsonPlaceRow{"in_the_text_place", {"text", "1", "--json"}, true},
                    JsonPlaceRow{"in_a_number_place", {"tap", "1", "1", "--json"}, true},
                    JsonPlaceRow{"in_the_apk_place", {"install", "1", "--json"}, true},
                    JsonPlaceRow{"before_the_command", {"--json", "launch"}, true},
                    JsonPlaceRow{"after_dashes", {"text", "1", "--", "--json", "x"}, false},
                    JsonPlaceRow{
                        "an_options_value", {"list", "--install-dir", "--json", "x"}, false},
                    JsonPlaceRow{"adbs_word", {"adb", "1"}, false},
                    JsonPlaceRow{"after_another_commands_option_with_equals",
                                 {"shake", "1", "--count=3", "--json"},
                                 true},
                    JsonPlaceRow{"after_another_commands_option_and_its_value",
                                 {"shake", "1", "--count", "3", "--json"},
                                 true},
                    JsonPlaceRow{"nowhere", {"text", "1", "-h"}, false}),
    RowName());

TEST(FarmArgs, UsageErrorsKnowWhetherJsonWasAskedFor) {
    EXPECT_TRUE(ParseFarmArgs({"--json", "launch"}, "1").request.json);
    EXPECT_TRUE(AsksForJson({"start", "x", "--json"}));
    EXPECT_FALSE(AsksForJson({"text", "1", "--", "--json"}));
    // An option's value is never an option, before the command or after it.
    EXPECT_FALSE(AsksForJson({"--install-dir", "--json"}));
    EXPECT_FALSE(AsksForJson({"list", "--install-dir", "--json"}));
    // Nor is a word after "--" before the command.
    EXPECT_FALSE(AsksForJson({"--", "--json", "list"}));
}

// The help: every command by its usage line, the global options, sections apart.
struct HelpRow {
    const char* name;
    const char* command;  // empty: the program's help
    const char* part;
};

class HelpTextTest : public testing::TestWithParam<HelpRow> {};

TEST_P(HelpTextTest, HoldsItsPart) {
    const HelpRow& row = GetParam();
    const std::string help = *row.command ? CommandHelp(row.command) : ProgramHelp("9.9.9");
    EXPECT_NE(help.find(row.part), std::string::npos) << help;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HelpTextTest,
    testing::Values(
        HelpRow{"version_first", "", "MEmuFarm 9.9.9: "},
        HelpRow{"commands_by_usage", "", "\nCommands:\n  list\n  clone --master INDEX"},
        HelpRow{"global_options", "",
                "\n\nOptions (before the command, or after its arguments):\n  --install-dir"},
        HelpRow{"exit_codes_apart", "", ".\n\nExit codes:\n  0  success\n"},
        HelpRow{"command_usage", "start", "Usage: MEmuFarm start SET"},
        HelpRow{"command_global_options", "start", "\n\nOptions (before the command"},
        HelpRow{"command_exit_codes_apart", "start", ".\n\nExit codes:\n"},
        HelpRow{"command_arguments_note", "text", "\nA word in an argument's place is that"},
        HelpRow{"argument_or_option", "install", "Usage: MEmuFarm install SET (APK | -p PACKAGE)"}),
    RowName());

}  // namespace

namespace {

// A command line that ends in the place of a text or number argument.
struct ArgumentPlace {
    const char* name;
    std::vector<std::string> before;  // the words before the argument
    bool number;                      // the argument is a number
    const char* own_option = "";      // an option of the command that may stand there
};

class ArgumentPlaceTest : public testing::TestWithParam<ArgumentPlace> {};

// Words a script may pass that look like MEmuFarm's own options.
const char* const kOptionLikeWords[] = {"-h", "--help",     "--version", "--json",
                                        "-x", "--deadline", "--",        "-p"};

TEST_P(ArgumentPlaceTest, AnOptionLikeWordIsRefusedAloneAndTheArgumentAfterDashes) {
    const ArgumentPlace& place = GetParam();
    for (const char* word : kOptionLikeWords) {
        if (std::string(word) == place.own_option) continue;
        std::vector<std::string> alone = place.before;
        alone.push_back(word);
        const ParseOutcome refused = ParseFarmArgs(alone, "1");
        const bool help = std::string(word) == "-h" || std::string(word) == "--help";
        if (help && place.before.size() == 1) {
            // The first word after the command: that command's help, as in git.
            EXPECT_EQ(refused.kind, ParseOutcome::Kind::kHelp) << word;
            continue;
        }
        ASSERT_EQ(refused.kind, ParseOutcome::Kind::kUsageError) << word;
        const char* hint = std::string(word) == "--" ? "is not followed by" : "put -- before it";
        EXPECT_NE(refused.text.find(hint), std::string::npos) << word << ": " << refused.text;

        std::vector<std::string> after_dashes = place.before;
        after_dashes.push_back("--");
        after_dashes.push_back(word);
        const ParseOutcome taken = ParseFarmArgs(after_dashes, "1");
        if (place.number) {
            ASSERT_EQ(taken.kind, ParseOutcome::Kind::kUsageError) << word;
            EXPECT_NE(taken.text.find("must be"), std::string::npos) << taken.text;
        } else {
            ASSERT_EQ(taken.kind, ParseOutcome::Kind::kRun) << word << ": " << taken.text;
            ASSERT_FALSE(taken.request.texts.empty());
            EXPECT_EQ(taken.request.texts.back(), word);
            EXPECT_FALSE(taken.request.json);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ArgumentPlaceTest,
    testing::Values(ArgumentPlace{"text", {"text", "1"}, false},
                    ArgumentPlace{"input", {"input", "1-3"}, false},
                    ArgumentPlace{"rename", {"rename", "1"}, false},
                    ArgumentPlace{"sendkey", {"sendkey", "1"}, false},
                    ArgumentPlace{"exec", {"exec", "all"}, false},
                    ArgumentPlace{"getconfig", {"getconfig", "1"}, false},
                    ArgumentPlace{"setconfig_value", {"setconfig", "1", "cpus"}, false},
                    ArgumentPlace{"create", {"create"}, false},
                    ArgumentPlace{"install_apk", {"install", "1"}, false, "-p"},
                    ArgumentPlace{"uninstall", {"uninstall", "1"}, false},
                    ArgumentPlace{"startapp", {"startapp", "1"}, false},
                    ArgumentPlace{"clear", {"clear", "1"}, false},
                    ArgumentPlace{"screenshot", {"screenshot", "1"}, false},
                    ArgumentPlace{"export", {"export", "1"}, false},
                    ArgumentPlace{"import", {"import"}, false},
                    ArgumentPlace{"setgps_latitude", {"setgps", "1", "116.39"}, false},
                    ArgumentPlace{"key", {"key", "1"}, true},
                    ArgumentPlace{"tap_y", {"tap", "1", "5"}, true},
                    ArgumentPlace{"swipe_y2", {"swipe", "1", "1", "2", "3"}, true}),
    RowName());

// An option-like word in the middle of the arguments stops there too.
TEST(FarmArgs, AnOptionLikeWordBeforeTheLastArgumentIsRefused) {
    for (const char* word : {"-h", "--json", "--version"}) {
        const ParseOutcome outcome = ParseFarmArgs({"setconfig", "1", word, "4"}, "1");
        ASSERT_EQ(outcome.kind, ParseOutcome::Kind::kUsageError) << word;
        EXPECT_NE(outcome.text.find("stands where KEY goes"), std::string::npos) << outcome.text;
    }
    const ParseOutcome taken = ParseFarmArgs({"setconfig", "1", "--", "-h", "--json"}, "1");
    ASSERT_EQ(taken.kind, ParseOutcome::Kind::kRun) << taken.text;
    EXPECT_EQ(taken.request.texts, (std::vector<std::string>{"-h", "--json"}));
}

}  // namespace
