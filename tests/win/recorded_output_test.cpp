// What MEmuFarm prints for a fixed set of commands, text and --json, held byte for byte to the
// files recorded under tests/win/recorded/ once what varies from run to run is blanked:
// seconds, sampled_at, pids, CPU shares, memory, uptimes and the test's own folder. With
// MEMUFARM_RECORD=1 in the environment the files are written anew instead.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/farm_runner.h"
#include "support/sim_fixture.h"
#include "support/sim_install.h"
#include "support/test_adb_port.h"
#include "support/win_test_support.h"

namespace {

// The source folder's recorded files, as Wine sees the Linux path (drive Z:).
std::string RecordedDir() {
    std::string path = std::string("Z:") + RECORDED_DIR;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path + "\\";
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The listing table's window, pid and headless pid columns vary, and with them the columns'
// widths: those cells are blanked and the blanks between cells made one.
std::string BlankListingColumns(const std::string& text) {
    static const std::regex kRow(R"(^([0-9]+) +(\S+) +[0-9]+ +[0-9]+ +(yes|no) +[0-9]+ +[0-9]+$)");
    static const std::regex kHeader(
        R"(^index +title +window +inner_window +started +pid +headless_pid$)");
    std::istringstream lines(text);
    std::string line;
    std::string out;
    while (std::getline(lines, line)) {
        std::smatch row;
        if (std::regex_match(line, row, kRow)) {
            line = row[1].str() + " " + row[2].str() + " # # " + row[3].str() + " # #";
        } else if (std::regex_match(line, kHeader)) {
            line = "index title window inner_window started pid headless_pid";
        }
        out += line + "\n";
    }
    return out;
}

// Blanks what differs between two runs of the same command.
std::string Normalize(std::string text, const std::string& root) {
    std::string json_root = ReplaceAll(root, "\\", "\\\\");
    text = ReplaceAll(text, json_root, "<ROOT>\\\\");
    text = ReplaceAll(text, root, "<ROOT>\\");
    text = ReplaceAll(text, "\r\n", "\n");
    const char* const kJsonNumbers =
        R"RE("(seconds|sampled_at|pid|headless_pid|window|inner_window|cpu|cpu_share|working_set_bytes|private_bytes|uptime_seconds|uptime_s|working_set_mb|private_mb)":-?[0-9.e+-]+)RE";
    text = std::regex_replace(text, std::regex(kJsonNumbers), "\"$1\":#");
    // Text lines: a per-VM result's seconds ("   0.03s"), and the number columns of the
    // listing and health tables.
    text = std::regex_replace(text, std::regex(R"(\b[0-9]+\.[0-9]+s\b)"), "#s");
    text = std::regex_replace(text, std::regex(R"RE("cpu_ratio":[0-9.e+-]+)RE"), "\"cpu_ratio\":#");
    text = std::regex_replace(text, std::regex(R"RE("sampled_at":"[^"]*")RE"), "\"sampled_at\":#");
    text = std::regex_replace(
        text, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"), "<UUID>");
    return BlankListingColumns(text);
}

struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* switches = "";
    bool start_first = false;  // VM 1 and 2 are started (with --wait) first
};

class RecordedOutputTest : public SimulatedFarmTest, public testing::WithParamInterface<Case> {
protected:
    RecordedOutputTest() : SimulatedFarmTest("recorded", 3) {}
};

TEST_P(RecordedOutputTest, PrintsWhatWasRecorded) {
    const Case& c = GetParam();
    SetSimSwitches(root_, "adb.exe * boot=0\r\n");
    if (c.start_first) {
        ASSERT_EQ(RunFarm({"start", "1", "--wait"}).code, 0u);
        ASSERT_EQ(RunFarm({"start", "2", "--wait"}).code, 0u);
    }
    SetSimSwitches(root_, std::string("adb.exe * boot=0\r\n") + c.switches);
    const FarmResult result = RunFarm(c.args);
    // health's text table has pid and number columns that vary: only its JSON is compared.
    std::string got = "exit " + std::to_string(result.code) + "\n--- stdout\n" +
                      Normalize(result.out, root_) + "--- stderr\n" + Normalize(result.err, root_);
    const std::string file = RecordedDir() + c.name + ".txt";
    if (getenv("MEMUFARM_RECORD")) {
        std::ofstream(file, std::ios::binary) << got;
        return;
    }
    std::ifstream in(file, std::ios::binary);
    ASSERT_TRUE(in) << file;
    std::stringstream recorded;
    recorded << in.rdbuf();
    EXPECT_EQ(recorded.str(), got) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, RecordedOutputTest,
    testing::Values(
        Case{"list", {"list"}, "", true}, Case{"list_json", {"--json", "list"}, "", true},
        Case{"start_one", {"start", "1", "--wait"}},
        Case{"start_one_json", {"--json", "start", "1", "--wait"}},
        Case{"start_detached_json", {"--json", "start", "1"}},
        Case{"running_one_stopped", {"running", "1"}},
        Case{"running_one_stopped_json", {"--json", "running", "1"}},
        Case{"running_set_json", {"--json", "running", "0-2"}, "", true},
        Case{"running_set", {"running", "0-2"}, "", true},
        Case{"getconfig_set", {"getconfig", "0-2", "cpus"}},
        Case{"getconfig_set_json", {"--json", "getconfig", "0-2", "cpus"}},
        Case{"tap_json", {"--json", "tap", "1", "5", "6"}, "", true},
        Case{"tap_set", {"tap", "1-2", "5", "6"}, "", true},
        Case{"clone_dry_run", {"clone", "--master", "0", "--count", "2", "--dry-run"}},
        Case{"clone_dry_run_json",
             {"--json", "clone", "--master", "0", "--count", "2", "--dry-run", "--first", "next"}},
        Case{"clone_json", {"--json", "clone", "--master", "0", "--count", "2"}},
        Case{"clone_text", {"clone", "--master", "0", "--count", "2", "--randomize"}},
        Case{"health_json", {"--json", "health", "--sample", "0.2"}, "", true},
        Case{"usage_error", {"start", "x"}}, Case{"usage_error_json", {"--json", "start", "x"}},
        Case{"failed_tool", {"rename", "99", "x"}},
        Case{"failed_tool_json", {"--json", "rename", "99", "x"}},
        Case{"failed_set_json", {"--json", "remove", "1,99"}},
        Case{"snapshot_fails",
             {"--json", "clone", "--master", "0", "--count", "2"},
             "MEmuManage.exe snapshot fail\r\n"},
        Case{"not_found", {"--json", "--install-dir", "C:\\nowhere", "list"}},
        Case{"create_help", {"create", "--help"}}, Case{"bogus_json", {"bogus", "--json"}},
        Case{"json_in_text_place", {"text", "1", "--json"}}),
    [](const testing::TestParamInfo<Case>& row) { return std::string(row.param.name); });

}  // namespace
