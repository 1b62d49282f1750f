#include "farm/health/health.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "cli/farm_args.h"
#include "fake_farm_system.h"
#include "farm/command/limits.h"
#include "farm/run/farm_run.h"
#include "farm/health/prometheus_text.h"
#include "farm/report/health_format.h"
#include "farm/report/outcome_document.h"
#include "row_name.h"

namespace {

// The one Chinese title of these tests, from GBK to UTF-8 (the system does this on Windows).
const std::string kTitleUtf8 = reinterpret_cast<const char*>(u8"逍遥 一号");
std::string Utf8(std::string_view gbk) {
    return gbk == "逍遥 一号" ? kTitleUtf8 : std::string(gbk);
}

TEST(Health, CpuShareOfAllCores) {
    struct Row {
        const char* name;
        uint64_t before, after;
        int64_t interval;
        int cores;
        std::optional<double> share;
    };
    const Row rows[] = {
        {"one core busy of two", 0, 10000000, 10000000, 2, 0.5},
        {"idle", 5, 5, 10000000, 4, 0.0},
        {"all cores", 100, 100 + 40000000, 10000000, 4, 1.0},
        {"zero interval", 0, 10, 0, 2, std::nullopt},
        {"clock went back", 0, 10, -5, 2, std::nullopt},
        {"time went back (a new process took the pid)", 500, 400, 10000000, 2, std::nullopt},
        {"no cores", 0, 10, 10, 0, std::nullopt},
    };
    for (const Row& row : rows) {
        const std::optional<double> share =
            CpuShare(row.before, row.after, row.interval, row.cores);
        ASSERT_EQ(share.has_value(), row.share.has_value()) << row.name;
        if (share) {
            EXPECT_DOUBLE_EQ(*share, *row.share) << row.name;
        }
    }
}

TEST(Health, IsoUtcTime) {
    EXPECT_EQ(IsoUtc(116444736000000000), "1970-01-01T00:00:00Z");
    EXPECT_EQ(IsoUtc(134116128000000000 + 10 * 3600 * 10000000LL + 12345678),
              "2025-12-31T10:00:01Z");
    EXPECT_EQ(IsoUtc(133852608000000000), "2025-03-01T00:00:00Z");  // the day after 28 Feb
    EXPECT_EQ(IsoUtc(133536384000000000), "2024-02-29T00:00:00Z");  // a leap day
    EXPECT_EQ(IsoUtc(157519296000000000), "2100-02-28T00:00:00Z");  // 2100 has no leap day
    EXPECT_EQ(IsoUtc(157520160000000000), "2100-03-01T00:00:00Z");
    EXPECT_EQ(IsoUtc(0), "1601-01-01T00:00:00Z");  // the first time Windows counts
    EXPECT_EQ(IsoUtc(157520160000000000 - 10000000), "2100-02-28T23:59:59Z");
    EXPECT_EQ(IsoUtc(133958016000000000), "2025-07-01T00:00:00Z");  // the day after 30 June
    EXPECT_EQ(IsoUtc(133642656000000000 - 10000000), "2024-06-30T23:59:59Z");
    EXPECT_DOUBLE_EQ(UnixSeconds(116444736000000000 + 15000000), 1.5);
}

ProcessReading Process(uint32_t pid, uint64_t cpu, int64_t created, uint64_t private_bytes) {
    ProcessReading reading;
    reading.pid = pid;
    reading.exe_name = "MEmuHeadless.exe";
    reading.cpu_time = cpu;
    reading.create_time = created;
    reading.working_set = 100 * 1024 * 1024;
    reading.private_bytes = private_bytes;
    return reading;
}

VmRecord Vm(int32_t index, const std::string& title, bool started, int32_t window, int32_t pid) {
    VmRecord vm;
    vm.index = index;
    vm.title = title;
    vm.started = started;
    vm.window = window;
    vm.process_id = pid;
    vm.headless_pid = pid;
    return vm;
}

const SampleClock kClock{1000 * 10000000LL, 1001 * 10000000LL, 2};

struct RuleRow {
    const char* name;
    HealthInputs inputs;
    HealthThresholds thresholds;
    bool healthy;
    std::string problems;  // joined by "; "
    std::string reasons;   // null readings, "name: why" joined by "; "
};

// Rows print as their names in test listings.
void PrintTo(const RuleRow& row, std::ostream* out) {
    *out << row.name;
}

class HealthRuleTest : public testing::TestWithParam<RuleRow> {};

TEST_P(HealthRuleTest, ReadsAndJudgesOneVm) {
    const RuleRow& row = GetParam();
    const VmHealth health = ReadHealth(row.inputs, kClock, row.thresholds);
    EXPECT_EQ(health.healthy, row.healthy);
    std::string problems;
    for (const std::string& p : health.problems) problems += (problems.empty() ? "" : "; ") + p;
    EXPECT_EQ(problems, row.problems);
    std::string reasons;
    for (const auto& [name, why] : health.reasons)
        reasons += (reasons.empty() ? "" : "; ") + name + ": " + why;
    EXPECT_EQ(reasons, row.reasons);
}

HealthInputs Inputs(VmRecord vm, WindowAnswer window, std::optional<bool> adb,
                    std::optional<ProcessReading> before, std::optional<ProcessReading> after) {
    HealthInputs inputs;
    inputs.vm = std::move(vm);
    inputs.window = window;
    inputs.adb = adb;
    inputs.before = std::move(before);
    inputs.after = std::move(after);
    return inputs;
}

const ProcessReading kIdleBefore = Process(7, 0, 900 * 10000000LL, 300 << 20);
const ProcessReading kBusyAfter = Process(7, 16000000, 900 * 10000000LL, 300 << 20);

INSTANTIATE_TEST_SUITE_P(
    Rows, HealthRuleTest,
    testing::Values(
        RuleRow{"healthy",
                Inputs(Vm(1, "a", true, 5, 7), WindowAnswer::kResponding, true, kIdleBefore,
                       kBusyAfter),
                {},
                true,
                "",
                ""},
        RuleRow{"no window is fine",
                Inputs(Vm(1, "a", true, 0, 7), WindowAnswer::kNone, true, kIdleBefore, kBusyAfter),
                {},
                true,
                "",
                "window_responding: the VM has no window"},
        RuleRow{"hung window",
                Inputs(Vm(1, "a", true, 5, 7), WindowAnswer::kHung, true, kIdleBefore, kBusyAfter),
                {},
                false,
                "its window does not answer",
                ""},
        RuleRow{
            "window gone",
            Inputs(Vm(1, "a", true, 5, 7), WindowAnswer::kUnknown, true, kIdleBefore, kBusyAfter),
            {},
            false,
            "its window could not be asked",
            "window_responding: the VM's window could not be asked"},
        RuleRow{"adb dead",
                Inputs(Vm(1, "a", true, 5, 7), WindowAnswer::kResponding, false, kIdleBefore,
                       kBusyAfter),
                {},
                false,
                "adb does not answer",
                ""},
        RuleRow{"above the CPU threshold",
                Inputs(Vm(1, "a", true, 5, 7), WindowAnswer::kResponding, true, kIdleBefore,
                       kBusyAfter),
                {0.5, std::nullopt},
                false,
                "CPU 80.0% is above 50.0%",
                ""},
        RuleRow{"at the CPU threshold",
                Inputs(Vm(1, "a", true, 5, 7), WindowAnswer::kResponding, true, kIdleBefore,
                       kBusyAfter),
                {0.8, std::nullopt},
                true,
                "",
                ""},
        RuleRow{"above the memory threshold",
                Inputs(Vm(1, "a", true, 5, 7), WindowAnswer::kResponding, true, kIdleBefore,
                       kBusyAfter),
                {std::nullopt, 299.5},
                false,
                "private memory 300 MiB is above 300 MiB",
                ""},
        RuleRow{"headless process not found",
                Inputs(Vm(1, "a", true, 5, 0), WindowAnswer::kResponding, true, std::nullopt,
                       std::nullopt),
                {0.1, 1},
                true,
                "",
                "cpu_ratio: no headless process; headless_pid: the VM's MEmuHeadless.exe process "
                "was not found; private_bytes: no headless process; uptime_seconds: no headless "
                "process; working_set_bytes: no headless process"},
        RuleRow{"process new during the sample",
                Inputs(Vm(1, "a", true, 5, 7), WindowAnswer::kResponding, true, std::nullopt,
                       kBusyAfter),
                {},
                true,
                "",
                "cpu_ratio: the process was not there for the whole sample"},
        RuleRow{"not running",
                Inputs(Vm(2, "b", false, 0, 0), WindowAnswer::kNone, std::nullopt, std::nullopt,
                       std::nullopt),
                {},
                false,
                "",
                ""}),
    RowName());

// One healthy VM with a Chinese title, one with a quote and a backslash in its title and null
// readings, one not running.
HealthReport ThreeVms() {
    HealthReport report;
    report.sampled_at = 134116128000000000;  // 2025-12-31T00:00:00Z
    report.vms.push_back(
        ReadHealth(Inputs(Vm(1, "逍遥 一号", true, 5, 7), WindowAnswer::kResponding, true,
                          kIdleBefore, kBusyAfter),
                   kClock, {}));
    report.vms.push_back(ReadHealth(Inputs(Vm(2, "a\"b\\c", true, 6, 0), WindowAnswer::kHung, false,
                                           std::nullopt, std::nullopt),
                                    kClock, {}));
    report.vms.push_back(ReadHealth(Inputs(Vm(3, "MEmu_3", false, 0, 0), WindowAnswer::kNone,
                                           std::nullopt, std::nullopt, std::nullopt),
                                    kClock, {}));
    return report;
}

// The uptime column: seconds, minutes, hours, days, each up to its highest value.
struct UptimeRow {
    const char* name;
    double seconds;
    const char* cell;
};

class UptimeCellTest : public testing::TestWithParam<UptimeRow> {};

TEST_P(UptimeCellTest, ShowsTheTwoLargestUnits) {
    HealthReport report = ThreeVms();
    report.vms[0].uptime_seconds = GetParam().seconds;
    const std::string table = HealthTable(report);
    EXPECT_NE(table.find(std::string(" ") + GetParam().cell + " "), std::string::npos) << table;
}

INSTANTIATE_TEST_SUITE_P(Rows, UptimeCellTest,
                         testing::Values(UptimeRow{"zero", 0, "0s"},
                                         UptimeRow{"highest_seconds", 59.9, "59s"},
                                         UptimeRow{"lowest_minutes", 60, "1m00s"},
                                         UptimeRow{"highest_minutes", 3599, "59m59s"},
                                         UptimeRow{"lowest_hours", 3600, "1h00m"},
                                         UptimeRow{"highest_hours", 86399, "23h59m"},
                                         UptimeRow{"lowest_days", 86400, "1d00h"},
                                         UptimeRow{"days_and_hours", 90061, "1d01h"},
                                         UptimeRow{"highest_hour_of_a_day", 172799, "1d23h"}),
                         RowName());

TEST(HealthFormat, TextTableMarksUnhealthyRowsAndCountsThem) {
    const std::string table = HealthTable(ThreeVms());
    EXPECT_EQ(table.substr(0, table.find('\n')),
              "  index  title      run  pid  cpu    mem      private  window  adb  uptime  health");
    EXPECT_NE(table.find("\n  1      逍遥 一号  yes  7    80.0%  100 MiB  300 MiB  yes     yes  "
                         "1m41s   ok\n"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("\n! 2      a\"b\\c      yes  ?    ?      ?        ?        HUNG    NO   "
                         "?       UNHEALTHY: its window does not answer; adb does not answer\n"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("\n  3      MEmu_3     no   0    0.0%   0 MiB    0 MiB    -       -    "
                         "0s      stopped\n"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("3 VMs, 2 running, 1 unhealthy (sampled 2025-12-31T00:00:00Z).\n"),
              std::string::npos);
}

// With a heal view, a VM the round decided nothing on keeps its health cell; the document
// counts the VMs being healed and those over their budget.
TEST(HealthFormat, HealViewMarksOnlyTheVmsItDecidedOn) {
    HealDecision healing;
    healing.index = 2;
    healing.state = HealState::kHealing;
    HealDecision gave_up;
    gave_up.index = 3;
    gave_up.state = HealState::kGaveUp;
    const HealView heal{{{2, healing}, {3, gave_up}}, {}};
    const std::string table = HealthTable(ThreeVms(), &heal);
    EXPECT_NE(table.find("1m41s   ok\n"), std::string::npos) << table;
    EXPECT_NE(table.find("?       healing\n"), std::string::npos) << table;
    EXPECT_NE(table.find("0s      GAVE UP (stopped)\n"), std::string::npos) << table;
    const auto document = HealthDocument(ThreeVms(), 1, "x", Utf8, &heal);
    EXPECT_EQ(document["healing"], 1);
    EXPECT_EQ(document["gave_up"], 1);
}

TEST(HealthFormat, JsonHasNullsWithReasons) {
    const std::string json =
        DocumentText(HealthDocument(ThreeVms(), 1, "1 of 2 running VMs unhealthy", Utf8));
    EXPECT_EQ(json.rfind(R"({"ok":false,"sampled_at":"2025-12-31T00:00:00Z","running":2,)"
                         R"("unhealthy":1,"vms":[{"index":1,"title":")" +
                             kTitleUtf8 +
                             R"(","started":true,)"
                             R"("headless_pid":7,"cpu_ratio":0.8,"working_set_bytes":104857600,)"
                             R"("private_bytes":314572800,"window_responding":true,)"
                             R"("adb_responding":true,"uptime_seconds":101.0,"healthy":true,)"
                             R"("problems":[],"reasons":{}},)",
                         0),
              0u)
        << json;
    EXPECT_NE(json.find(R"({"index":2,"title":"a\"b\\c","started":true,"headless_pid":null,)"
                        R"("cpu_ratio":null,)"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find(R"("window_responding":false,"adb_responding":false)"), std::string::npos);
    EXPECT_NE(json.find(R"({"index":3,"title":"MEmu_3","started":false,"headless_pid":0,)"
                        R"("cpu_ratio":0.0,"working_set_bytes":0,"private_bytes":0,)"
                        R"("window_responding":false,"adb_responding":false,)"
                        R"("uptime_seconds":0.0,"healthy":false)"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find(R"("error":{"exit_code":1,"message":"1 of 2 running VMs unhealthy"}})"),
              std::string::npos);
}

TEST(HealthFormat, PrometheusGaugesWithEscapedLabels) {
    const std::string text = PrometheusText(ThreeVms(), Utf8);
    const std::string chinese = "title=\"" + kTitleUtf8 + "\"";
    const std::vector<std::string> lines = {
        "# HELP memu_vm_up Whether the VM is running (1) or not (0).",
        "# TYPE memu_vm_up gauge",
        "memu_vm_up{index=\"1\"," + chinese + "} 1",
        "memu_vm_up{index=\"2\",title=\"a\\\"b\\\\c\"} 1",
        "memu_vm_up{index=\"3\",title=\"MEmu_3\"} 0",
        "# TYPE memu_vm_cpu_ratio gauge",
        "memu_vm_cpu_ratio{index=\"1\"," + chinese + "} 0.8",
        "memu_vm_cpu_ratio{index=\"3\",title=\"MEmu_3\"} 0",
        "memu_vm_private_bytes{index=\"1\"," + chinese + "} 314572800",
        "memu_vm_window_responding{index=\"2\",title=\"a\\\"b\\\\c\"} 0",
        "memu_vm_uptime_seconds{index=\"1\"," + chinese + "} 101",
        "# TYPE memu_vms gauge",
        "memu_vms 3",
        "memu_vms_unhealthy 1",
        "memu_health_last_run_timestamp_seconds 1767139200.000",
    };
    for (const std::string& line : lines)
        EXPECT_NE(text.find(line + "\n"), std::string::npos) << line << "\n" << text;
    // A value that could not be read has no sample.
    EXPECT_EQ(text.find("memu_vm_cpu_ratio{index=\"2\""), std::string::npos);
    // Every metric is described and typed before its first sample.
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        if (line.empty() || line[0] == '#') continue;
        const std::string name = line.substr(0, line.find_first_of("{ "));
        const size_t help = text.find("# HELP " + name + " ");
        const size_t type = text.find("# TYPE " + name + " gauge\n");
        EXPECT_LT(help, text.find(line)) << name;
        EXPECT_LT(type, text.find(line)) << name;
    }
}

struct PromRow {
    const char* name;
    double value;
    const char* text;
};

class PrometheusNumberTest : public testing::TestWithParam<PromRow> {};

TEST_P(PrometheusNumberTest, WritesTheSampleValue) {
    EXPECT_EQ(PrometheusNumber(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PrometheusNumberTest,
    testing::Values(PromRow{"zero", 0, "0"}, PromRow{"flag", 1, "1"},
                    PromRow{"bytes_beyond_32_bits", 6442450944.0, "6442450944"},
                    PromRow{"largest_plain_whole", 999999999999999.0, "999999999999999"},
                    PromRow{"whole_from_1e15", 1e15, "1e+15"}, PromRow{"fraction", 0.8, "0.8"},
                    PromRow{"nine_significant_digits", 2.0 / 3.0, "0.666666667"},
                    PromRow{"small_fraction", 0.000125, "0.000125"},
                    PromRow{"negative_whole", -2, "-2"},
                    PromRow{"not_a_number", std::nan(""), "NaN"}),
    RowName());

struct LabelRow {
    const char* name;
    const char* utf8;
    const char* escaped;
};

class PrometheusLabelTest : public testing::TestWithParam<LabelRow> {};

TEST_P(PrometheusLabelTest, EscapesWhatTheFormatNeeds) {
    EXPECT_EQ(PrometheusLabelValue(GetParam().utf8), GetParam().escaped);
}

INSTANTIATE_TEST_SUITE_P(Rows, PrometheusLabelTest,
                         testing::Values(LabelRow{"plain", "MEmu_1", "MEmu_1"},
                                         LabelRow{"empty", "", ""},
                                         LabelRow{"backslash", "a\\b", "a\\\\b"},
                                         LabelRow{"quote", "a\"b", "a\\\"b"},
                                         LabelRow{"line_feed", "a\nb", "a\\nb"},
                                         LabelRow{"carriage_return_kept", "a\rb", "a\rb"},
                                         LabelRow{"tab_kept", "a\tb", "a\tb"},
                                         LabelRow{"chinese_kept", "\xE9\x80\x8D", "\xE9\x80\x8D"},
                                         LabelRow{"all_three", "\\\"\n", "\\\\\\\"\\n"}),
                         RowName());

// --- The command -----------------------------------------------------------------------------

struct HealthFarm {
    FakeFarmSystem system;
    int Run(const std::vector<std::string>& args, FarmOutcome* out = nullptr) {
        const ParseOutcome parsed = ParseFarmArgs(args, "1");
        EXPECT_EQ(parsed.kind, ParseOutcome::Kind::kRun) << parsed.text;
        FarmProgress progress;
        progress.health_round = [this](const HealthRound&) { ++rounds; };
        FarmOutcome outcome = RunFarm(parsed.request, system, progress);
        if (out) *out = outcome;
        return outcome.exit_code;
    }
    int rounds = 0;
};

// adb answers for a VM only when Android says it has booted: any other answer, however prompt,
// is an adb that does not answer.
TEST(HealthRun, OnlyTheAnswerOneIsABootedAdb) {
    const struct {
        const char* name;
        DeviceReply reply;
        int exit_code;
        std::vector<std::string> problems;
    } rows[] = {
        {"one", Okay("1\n"), 0, {}},
        {"one with CR LF", Okay("1\r\n"), 0, {}},
        {"zero", Okay("0\n"), 1, {"adb does not answer"}},
        {"empty", Okay(""), 1, {"adb does not answer"}},
        {"refused", Fail("device offline"), 1, {"adb does not answer"}},
    };
    for (const auto& row : rows) {
        HealthFarm farm;
        farm.system.tools.answer = [](const std::string&) {
            return Answer("1,MEmu_1,11,1,701\r\n");
        };
        farm.system.adb.answer = [&row](const std::string&, const std::string&) {
            return row.reply;
        };
        farm.system.processes.AddHeadless(701, "MEmuHeadless.exe --comment MEmu_1 --startvm a");
        FarmOutcome outcome;
        EXPECT_EQ(farm.Run({"health", "1"}, &outcome), row.exit_code) << row.name;
        const auto* round = std::get_if<HealthRound>(&outcome.what);
        ASSERT_NE(round, nullptr) << row.name;
        ASSERT_EQ(round->report.vms.size(), 1u) << row.name;
        EXPECT_EQ(round->report.vms[0].problems, row.problems) << row.name;
    }
}

TEST(HealthRun, FlagsTheSickVmsAndWritesTheFile) {
    HealthFarm farm;
    farm.system.tools.answer = [](const std::string& line) {
        if (line.find("listvms") != std::string::npos)
            return Answer("0,MEmu,0,0,0\r\n1,MEmu_1,11,1,701\r\n2,MEmu_2,12,1,702\r\n");
        return Answer("");
    };
    farm.system.adb.answer = [](const std::string& serial, const std::string& service) {
        EXPECT_EQ(service, "shell:getprop sys.boot_completed");
        return serial == "127.0.0.1:21523" ? Fail("device offline") : Okay("1\n");
    };
    farm.system.processes.AddHeadless(701, "MEmuHeadless.exe --comment MEmu_1 --startvm a");
    farm.system.processes.AddHeadless(702, "MEmuHeadless.exe --comment MEmu_2 --startvm b");
    farm.system.probes.windows[11] = WindowAnswer::kHung;
    FarmOutcome outcome;
    EXPECT_EQ(farm.Run({"health", "--prom", "C:\\prom\\memu.prom"}, &outcome), 1);
    const auto& round = std::get<HealthRound>(outcome.what);
    ASSERT_EQ(round.report.vms.size(), 3u);
    EXPECT_EQ(round.report.vms[1].problems, std::vector<std::string>{"its window does not answer"});
    EXPECT_EQ(round.report.vms[2].problems, std::vector<std::string>{"adb does not answer"});
    EXPECT_EQ(outcome.message, "2 of 2 running VMs unhealthy");
    // The probe goes to the server, given its 3 s (less when the sample's wait moved the clock
    // on between the two looks at it); no adb.exe runs.
    ASSERT_EQ(farm.system.adb.Requests().size(), 2u);
    for (const DeviceRequest& request : farm.system.adb.Requests()) {
        EXPECT_LE(request.seconds, 3.0);
        EXPECT_GT(request.seconds, 0.0);
    }
    EXPECT_EQ(farm.system.tools.Lines(), std::vector<std::string>{"memuc.exe memuc listvms"});
    ASSERT_EQ(farm.system.files.writes.size(), 1u);
    EXPECT_EQ(farm.system.files.writes[0].first, "C:\\prom\\memu.prom");
    EXPECT_NE(farm.system.files.writes[0].second.find("memu_vms_unhealthy 2\n"), std::string::npos);

    // A file that cannot be written keeps the old one and fails the run.
    farm.system.files.fail = true;
    farm.system.probes.windows.clear();
    farm.system.tools.answer = [](const std::string&) { return Answer("1,MEmu_1,11,1,701\r\n"); };
    EXPECT_EQ(farm.Run({"health", "1", "--prom", "C:\\prom\\memu.prom"}, &outcome), 1);
    EXPECT_NE(outcome.message.find("the Prometheus file was not written"), std::string::npos);
    farm.system.files.fail = false;
    EXPECT_EQ(farm.Run({"health", "1"}), 0);

    // A VM the set names but the emulator does not list is not healthy.
    EXPECT_EQ(farm.Run({"health", "1,9"}, &outcome), 1);
    EXPECT_EQ(outcome.message, "VM 9 is not listed");

    // A listing that fails writes nothing: the last good file and its timestamp stay.
    farm.system.files.writes.clear();
    farm.system.tools.answer = [](const std::string&) { return Answer("ERROR: service down", 1); };
    EXPECT_EQ(farm.Run({"health", "--prom", "C:\\prom\\memu.prom"}, &outcome), 1);
    EXPECT_TRUE(farm.system.files.writes.empty());
    EXPECT_NE(outcome.message.find("the VM listing failed"), std::string::npos);
}

// The readings come from two process lists a sample apart: the CPU share from the difference,
// a pid that another process took in between (another create time) has no share, a process
// gone by the second list has no readings; each null reading says why.
TEST(HealthRun, ReadsEveryVmFromTwoProcessLists) {
    HealthFarm farm;
    farm.system.tools.answer = [](const std::string& line) {
        if (line.find("listvms") != std::string::npos)
            return Answer("1,MEmu_1,11,1,701\r\n2,MEmu_2,12,1,702\r\n3,MEmu_3,13,1,703\r\n");
        return Answer("1\r\n");
    };
    for (uint32_t pid : {701u, 702u, 703u})
        farm.system.processes.AddHeadless(
            pid, "MEmuHeadless.exe --comment MEmu_" + std::to_string(pid - 700) + " --startvm x");
    const int64_t start = farm.system.probes.time.load() - 600 * 10000000LL;
    auto reading = [start](uint32_t pid, uint64_t cpu, int64_t created) {
        ProcessReading r;
        r.pid = pid;
        r.exe_name = "MEmuHeadless.exe";
        r.cpu_time = cpu;
        r.create_time = start + created;
        r.working_set = 200u << 20;
        r.private_bytes = 300u << 20;
        return r;
    };
    // Half a second passes between the two lists (the fake's clock), on two cores.
    farm.system.probes.before = std::vector<ProcessReading>{reading(701, 1000000, 0),
                                                            reading(702, 0, 0), reading(703, 0, 0)};
    farm.system.probes.after =
        std::vector<ProcessReading>{reading(701, 6000000, 0), reading(702, 9000000, 1)};
    FarmOutcome outcome;
    EXPECT_EQ(farm.Run({"--json", "health", "--max-cpu", "0.4"}, &outcome), 1);
    const auto& vms = std::get<HealthRound>(outcome.what).report.vms;
    ASSERT_EQ(vms.size(), 3u);

    ASSERT_TRUE(vms[0].cpu_ratio);
    EXPECT_DOUBLE_EQ(*vms[0].cpu_ratio, 0.5);
    EXPECT_EQ(vms[0].working_set_bytes, 200u << 20);
    EXPECT_EQ(vms[0].private_bytes, 300u << 20);
    ASSERT_TRUE(vms[0].uptime_seconds);
    EXPECT_GE(*vms[0].uptime_seconds, 600.0);
    ASSERT_EQ(vms[0].problems.size(), 1u);
    EXPECT_NE(vms[0].problems[0].find("CPU 50"), std::string::npos) << vms[0].problems[0];

    EXPECT_FALSE(vms[1].cpu_ratio);
    EXPECT_EQ(vms[1].reasons.at(health_key::kCpuRatio),
              "the process was not there for the whole sample");
    EXPECT_TRUE(vms[1].working_set_bytes);
    EXPECT_TRUE(vms[1].healthy);  // no share is no excess

    for (const char* key : {health_key::kCpuRatio, health_key::kWorkingSetBytes,
                            health_key::kPrivateBytes, health_key::kUptimeSeconds})
        EXPECT_EQ(vms[2].reasons.at(key), "the headless process was not in the process list")
            << key;
    EXPECT_EQ(vms[2].headless_pid, 703u);
    EXPECT_EQ(outcome.message, "1 of 3 running VMs unhealthy");
}

// A process list that could not be read leaves every VM's readings empty, with that reason;
// adb is asked within its own short time and may be abandoned.
TEST(HealthRun, AnUnreadableProcessListEmptiesTheReadingsAndAdbIsAskedBriefly) {
    HealthFarm farm;
    farm.system.tools.answer = [](const std::string& line) {
        if (line.find("listvms") != std::string::npos)
            return Answer("1,MEmu_1,11,1,701\r\n2,MEmu_2,12,1,702\r\n");
        return Answer("1\r\n");
    };
    for (uint32_t pid : {701u, 702u})
        farm.system.processes.AddHeadless(
            pid, "MEmuHeadless.exe --comment MEmu_" + std::to_string(pid - 700) + " --startvm x");
    farm.system.probes.after = std::nullopt;
    FarmOutcome outcome;
    farm.Run({"--json", "health"}, &outcome);
    const auto& vms = std::get<HealthRound>(outcome.what).report.vms;
    ASSERT_EQ(vms.size(), 2u);
    for (const auto& vm : vms)
        EXPECT_EQ(vm.reasons.at(health_key::kPrivateBytes),
                  "the system's process list could not be read");

    size_t asked = 0;
    for (const DeviceRequest& request : farm.system.adb.Requests()) {
        if (request.service != "shell:getprop sys.boot_completed") continue;
        ++asked;
        EXPECT_DOUBLE_EQ(request.seconds, kAdbAnswerMs / 1000.0) << request.serial;
    }
    EXPECT_EQ(asked, 2u);
}

TEST(HealthRun, WatchRepeatsUntilCtrlC) {
    HealthFarm farm;
    farm.system.tools.answer = [&farm](const std::string& line) {
        // Ctrl+C comes while the third round lists the VMs.
        if (line.find("listvms") != std::string::npos && ++farm.rounds >= 3)
            farm.system.stop = true;
        return line.find("listvms") != std::string::npos ? Answer("") : Answer("1");
    };
    int shown = 0;
    const ParseOutcome parsed = ParseFarmArgs({"health", "--watch", "15"}, "1");
    FarmProgress progress;
    progress.health_round = [&shown](const HealthRound&) { ++shown; };
    const FarmOutcome outcome = RunFarm(parsed.request, farm.system, progress);
    EXPECT_EQ(outcome.exit_code, 0);
    EXPECT_EQ(shown, 2);  // the third round was cut short and is not shown
}

}  // namespace
