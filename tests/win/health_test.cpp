// MEmuFarm health end to end against the simulated emulator: sick VMs flagged, the Prometheus
// file written whole or not at all, and --watch as JSON lines when redirected.
#include <gtest/gtest.h>
#include <windows.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "support/farm_runner.h"
#include "support/sim_fixture.h"
#include "support/sim_install.h"
#include "support/test_adb_port.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

using Json = nlohmann::json;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

int Cores() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return static_cast<int>(info.dwNumberOfProcessors);
}

class HealthTest : public SimulatedFarmTest {
protected:
    HealthTest() : SimulatedFarmTest("health", 5) {}
    // The VM's entry of a health document.
    static Json VmOf(const Json& document, int index) {
        for (const Json& vm : document.at("vms"))
            if (vm.at("index") == index) return vm;
        return Json();
    }
};

TEST_F(HealthTest, FlagsExactlyTheSickVms) {
    SetSimSwitches(root_,
                   "adb.exe * boot=0\r\n"
                   "MEmuHeadless.exe * burn 1\r\n"
                   "MEmuHeadless.exe * hungwindow 2\r\n"
                   "adb.exe * hang 3\r\n");
    ASSERT_EQ(RunFarm({"start", "1-4", "--wait", "--parallel", "4"}).code, 0u);
    Sleep(6000);  // a window counts as hung once it has taken no message for about 5 s

    const FarmResult health = RunFarm({"--json", "health", "1-4", "--sample", "2"});
    EXPECT_EQ(health.code, 1u) << health.err;
    const Json document = Json::parse(health.out, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << health.out;
    EXPECT_EQ(document.at("unhealthy"), 2);
    EXPECT_TRUE(VmOf(document, 1).at("healthy")) << health.out;
    EXPECT_FALSE(VmOf(document, 2).at("healthy"));
    EXPECT_EQ(VmOf(document, 2).at("window_responding"), false);
    EXPECT_EQ(VmOf(document, 2).at("adb_responding"), true);
    EXPECT_FALSE(VmOf(document, 3).at("healthy"));
    EXPECT_EQ(VmOf(document, 3).at("adb_responding"), false);
    EXPECT_EQ(VmOf(document, 3).at("window_responding"), true);
    EXPECT_TRUE(VmOf(document, 4).at("healthy"));
    // The burning VM uses most of one core: its share of all cores times the cores.
    const double burning = VmOf(document, 1).at("cpu_ratio").get<double>() * Cores();
    EXPECT_GT(burning, 0.3) << health.out;
    EXPECT_GT(VmOf(document, 1).at("private_bytes").get<double>(), 0);
    EXPECT_GT(VmOf(document, 1).at("uptime_seconds").get<double>(), 5);

    const FarmResult limited =
        RunFarm({"--json", "health", "1,4", "--sample", "2", "--max-cpu", "0.1"});
    EXPECT_EQ(limited.code, 1u);
    const Json capped = Json::parse(limited.out, nullptr, false);
    ASSERT_FALSE(capped.is_discarded()) << limited.out;
    EXPECT_FALSE(VmOf(capped, 1).at("healthy")) << limited.out;
    EXPECT_TRUE(VmOf(capped, 4).at("healthy")) << limited.out;
}

TEST_F(HealthTest, WritesThePrometheusFileWholeOrKeepsTheOldOne) {
    SetSimSwitches(root_, "adb.exe * boot=0\r\n");
    ASSERT_EQ(RunFarm({"rename", "1", "逍遥 \"一号\""}).code, 0u);
    ASSERT_EQ(RunFarm({"start", "1", "--wait"}).code, 0u);
    const std::string folder = MakeTempFolder("prom");
    const std::string file = folder + "memu.prom";

    const FarmResult written = RunFarm({"health", "--sample", "0.2", "--prom", file});
    EXPECT_EQ(written.code, 0u) << written.out << written.err;
    const std::string text = ReadWhole(file);
    EXPECT_TRUE(Contains(text, "memu_vm_up{index=\"1\",title=\"" +
                                   Utf8FromWide(WideFromGbk("逍遥 \\\"一号\\\"")) + "\"} 1\n"))
        << text;
    EXPECT_TRUE(Contains(text, "memu_vms 5\n")) << text;
    // promtool checks this very file after the suite (health_prom_promtool).
    ASSERT_TRUE(CopyFileW(WideFromGbk(file).c_str(),
                          WideFromGbk(BinDir() + "health-check.prom").c_str(), FALSE));

    // Read-only: refused as Windows refuses it; the old file stays.
    ASSERT_TRUE(sim::WriteFileBytes(file, "old"));
    ASSERT_TRUE(SetFileAttributesW(WideFromGbk(file).c_str(), FILE_ATTRIBUTE_READONLY));
    const FarmResult read_only = RunFarm({"health", "--sample", "0.2", "--prom", file});
    EXPECT_EQ(read_only.code, 1u);
    EXPECT_TRUE(Contains(read_only.err, "is read-only")) << read_only.err;
    EXPECT_EQ(ReadWhole(file), "old");
    ASSERT_TRUE(SetFileAttributesW(WideFromGbk(file).c_str(), FILE_ATTRIBUTE_NORMAL));

    // Held open by another process without delete sharing.
    {
        UniqueFileHandle held(CreateFileW(WideFromGbk(file).c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        const FarmResult busy = RunFarm({"--json", "health", "--sample", "0.2", "--prom", file});
        EXPECT_EQ(busy.code, 1u);
        EXPECT_TRUE(Contains(busy.out, "the Prometheus file was not written")) << busy.out;
    }
    EXPECT_EQ(ReadWhole(file), "old");

    EXPECT_EQ(RunFarm({"health", "--sample", "0.2", "--prom", folder + "missing\\memu.prom"}).code,
              1u);
    const FarmResult is_folder = RunFarm({"health", "--sample", "0.2", "--prom", folder});
    EXPECT_EQ(is_folder.code, 1u);
    EXPECT_TRUE(Contains(is_folder.err, "is a folder")) << is_folder.err;
}

TEST_F(HealthTest, WatchWritesJsonLinesWhenRedirected) {
    // Ended from outside after a few rounds, as a service manager would end it.
    const FarmResult watched = RunFarm({"health", "--watch", "1", "--sample", "0.2"}, 4500);
    EXPECT_EQ(watched.code, 9999u);
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = watched.out.find('\n', start)) != std::string::npos;
         start = end + 1)
        lines.push_back(watched.out.substr(start, end - start));
    EXPECT_GE(lines.size(), 2u) << watched.out;
    for (const std::string& line : lines) {
        const Json document = Json::parse(line, nullptr, false);
        ASSERT_FALSE(document.is_discarded()) << line;
        EXPECT_EQ(document.at("vms").size(), 5u);
        EXPECT_TRUE(document.at("ok"));  // nothing runs, so nothing is unhealthy
    }
}

// Over 20 running VMs the probe asks the adb server only, never an adb.exe process, and the VM
// whose adb hangs is the one flagged.
TEST_F(HealthTest, TwentyVmsAreAskedThroughTheServer) {
    ASSERT_FALSE(InstallSimulatedEmulator(root_, 20).empty());
    SetSimSwitches(root_, "adb.exe * boot=0\r\nadb.exe * hang 7\r\n");
    ASSERT_EQ(RunFarm({"start", "0-19", "--wait", "--parallel", "4"}, 180000).code, 0u);
    ClearSimJournal(root_);

    const FarmResult health = RunFarm({"--json", "health", "--sample", "0.5"}, 120000);
    EXPECT_EQ(health.code, 1u) << health.err;
    const Json document = Json::parse(health.out);
    EXPECT_EQ(document.at("adb"), "server");
    for (int index = 0; index < 20; ++index)
        EXPECT_EQ(VmOf(document, index).at("adb_responding"), index != 7) << index;
    int asked = 0;
    for (const std::string& line : SimJournalLines(root_)) {
        EXPECT_NE(line.rfind("adb.exe -s", 0), 0u) << line;
        asked += line == "adb-server shell:getprop sys.boot_completed";
    }
    EXPECT_GE(asked, 19);  // VM 7 may hang at its transport already
}

}  // namespace
