// MEmuFarm health --watch --heal end to end against the simulated emulator: a hung VM is
// restarted and comes back, a VM stopped behind the watch's back is started again, a healthy
// VM is never touched, a VM that keeps hanging gets its budget of restarts and is then given up
// on; the actions are JSON lines and Prometheus counters.
#include <gtest/gtest.h>
#include <windows.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "support/farm_runner.h"
#include "support/sim_fixture.h"
#include "support/sim_install.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

using Json = nlohmann::json;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The adb server a watch starts runs on the test's own port and ends with the test.
class HealTest : public SimulatedFarmTest {
protected:
    HealTest() : SimulatedFarmTest("heal", 5) {}
};

struct WatchLines {
    std::vector<Json> rounds;
    std::vector<Json> events;
};

// Runs the simulated emulator's memuc with `args` and waits for it (MEmuFarm runs in the
// background meanwhile, and its runner's output files are its own).
DWORD RunMemuc(const std::string& root, const std::string& args) {
    const std::string folder = root + "MEmu\\";
    std::wstring line = WideFromGbk("\"" + folder + "memuc.exe\" " + args);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        WideFromGbk(folder).c_str(), &startup, &info))
        return 9999;
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    if (WaitForSingleObject(process.get(), 30000) != WAIT_OBJECT_0) return 9998;
    DWORD code = 9997;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

WatchLines Split(const std::string& out) {
    WatchLines lines;
    for (size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const Json document = Json::parse(out.substr(start, end - start), nullptr, false);
        if (document.is_discarded()) {
            ADD_FAILURE() << "not JSON: " << out.substr(start, std::min<size_t>(end - start, 200));
        } else if (document.contains("event")) {
            lines.events.push_back(document);
        } else {
            lines.rounds.push_back(document);
        }
    }
    return lines;
}

std::vector<Json> EventsOf(const WatchLines& lines, int index) {
    std::vector<Json> events;
    for (const Json& event : lines.events)
        if (event.at("index") == index) events.push_back(event);
    return events;
}

std::string HealOf(const Json& round, int index) {
    for (const Json& vm : round.at("vms"))
        if (vm.at("index") == index) return vm.at("heal").get<std::string>();
    return "missing";
}

TEST_F(HealTest, RestartsStartsLeavesAloneAndGivesUp) {
    // VMs 1 and 3 come up with a hung window; only VM 3's comes back hung after a restart.
    SetSimSwitches(root_,
                   "adb.exe * boot=500\r\n"
                   "MEmuHeadless.exe * hungwindow 1\r\n"
                   "MEmuHeadless.exe * hungwindow 3\r\n");
    ASSERT_EQ(RunFarm({"start", "1-4", "--wait", "--parallel", "4"}).code, 0u);
    SetSimSwitches(root_,
                   "adb.exe * boot=500\r\n"
                   "MEmuHeadless.exe * hungwindow 3\r\n");
    Sleep(6000);  // a window counts as hung once it has taken no message for about 5 s
    ClearSimJournal(root_);

    const std::string prom = MakeTempFolder("heal-prom") + "memu.prom";
    FarmResult watched;
    std::thread watch([&] {
        // Ended from outside, as a service manager would end it.
        watched =
            RunFarm({"health", "1-4", "--watch", "2", "--sample", "0.2", "--heal", "--max-restarts",
                     "2", "--heal-window", "600", "--parallel", "4", "--prom", prom},
                    40000);
    });
    Sleep(9000);
    // Stopped behind the watch's back.
    EXPECT_EQ(RunMemuc(root_, "stop -i 2"), 0u);
    watch.join();
    EXPECT_EQ(watched.code, 9999u) << watched.err;

    const WatchLines lines = Split(watched.out);
    ASSERT_GE(lines.rounds.size(), 5u) << watched.out.substr(0, 4000);
    const Json& last = lines.rounds.back();

    // The hung VM: one restart, and healthy again.
    const std::vector<Json> vm1 = EventsOf(lines, 1);
    ASSERT_EQ(vm1.size(), 1u) << lines.events.size() << " events";
    EXPECT_EQ(vm1[0].at("action"), "restart");
    EXPECT_EQ(vm1[0].at("result"), "ok") << vm1[0].dump();
    EXPECT_EQ(vm1[0].at("reason"), "its window does not answer");
    ASSERT_EQ(vm1[0].at("steps").size(), 3u) << vm1[0].dump();
    EXPECT_TRUE(Contains(vm1[0].at("steps")[0], "memuc stop -i 1"));
    EXPECT_TRUE(Contains(vm1[0].at("steps")[1], "memuc start -i 1"));
    EXPECT_TRUE(Contains(vm1[0].at("steps")[2], "sys.boot_completed"));
    EXPECT_EQ(HealOf(last, 1), "healthy") << last.dump();

    // The VM stopped by hand: started again.
    const std::vector<Json> vm2 = EventsOf(lines, 2);
    ASSERT_EQ(vm2.size(), 1u) << lines.events.size() << " events";
    EXPECT_EQ(vm2[0].at("action"), "start");
    EXPECT_EQ(vm2[0].at("result"), "ok") << vm2[0].dump();
    EXPECT_EQ(HealOf(last, 2), "healthy") << last.dump();

    // The VM that keeps hanging: its two restarts, then given up on.
    const std::vector<Json> vm3 = EventsOf(lines, 3);
    EXPECT_EQ(vm3.size(), 2u) << lines.events.size() << " events";
    EXPECT_EQ(HealOf(last, 3), "gave_up") << last.dump();

    // The healthy VM: no event, never stopped or started.
    EXPECT_TRUE(EventsOf(lines, 4).empty());
    EXPECT_EQ(HealOf(last, 4), "healthy");
    for (const std::string& line : SimJournalLines(root_)) {
        EXPECT_FALSE(Contains(line, "stop -i 4")) << line;
        EXPECT_FALSE(Contains(line, "start -i 4")) << line;
    }
    // Never killed: the VMs were stopped by memuc stop only, one per restart.
    int stops = 0;
    for (const std::string& line : SimJournalLines(root_))
        stops += Contains(line, "memuc.exe") && Contains(line, "stop -i") ? 1 : 0;
    EXPECT_EQ(stops, 1 + 1 + 2);  // VM 1, the test's VM 2, VM 3 twice

    const std::string text = ReadWhole(prom);
    EXPECT_TRUE(Contains(text,
                         "memu_vm_heal_actions_total{index=\"3\",title=\"MEmu_3\",action="
                         "\"restart\",result=\"ok\"} 2\n"))
        << text;
    EXPECT_TRUE(Contains(text,
                         "memu_vm_heal_actions_total{index=\"4\",title=\"MEmu_4\",action="
                         "\"restart\",result=\"ok\"} 0\n"));
    EXPECT_TRUE(Contains(text, "memu_vm_heal_gave_up{index=\"3\",title=\"MEmu_3\"} 1\n"));
    // promtool checks this very file after the suite (heal_prom_promtool).
    ASSERT_TRUE(CopyFileW(WideFromGbk(prom).c_str(),
                          WideFromGbk(BinDir() + "heal-check.prom").c_str(), FALSE));
}

}  // namespace
