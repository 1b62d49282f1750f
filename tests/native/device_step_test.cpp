// The verbs that ask a VM's device, through the adb server of the fake system: the request each
// one sends and how long it may wait, how a reply, a FAIL or a time-out is judged, the server's
// start when none listens, and adb.exe for each step when none can be had.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "control/operations.h"
#include "fake_farm_run.h"
#include "row_name.h"

namespace {

enum class Server {
    kListening,
    kStartsWhenAsked,  // nothing listens until "adb.exe start-server" has run
    kCannotStart,      // nothing listens, and start-server fails
    kStartsButAbsent,  // start-server says it worked, yet nothing listens
    kStartHangs,       // nothing listens, and start-server never ends
    kStartTakes1_5s,   // nothing listens until start-server has run for 1.5 s
};

struct DeviceRow {
    const char* name;
    std::vector<std::string> args;
    Server server;
    DeviceReply reply;
    int exit_code;
    std::string verdict;                // "verdict" of the document
    std::vector<std::string> services;  // the device requests, in order
    double seconds;                     // what each request was given
    std::vector<std::string> lines;     // the tools started, in order
    std::string adb;                    // "adb" of the document
    std::string said;                   // part of the document
};

void PrintTo(const DeviceRow& row, std::ostream* out) {
    *out << row.name;
}

class DeviceStepTest : public testing::TestWithParam<DeviceRow> {};

// What a device request is given when the run gives neither --timeout nor --deadline.
constexpr double kDefaultLimit = 60;
const char* const kStartServer = "adb.exe start-server";

TEST_P(DeviceStepTest, RequestVerdictAndWay) {
    const DeviceRow& row = GetParam();
    Farm farm;
    farm.system.adb.listening = row.server == Server::kListening;
    if (row.server == Server::kStartHangs) farm.system.tools.hang_on = kStartServer;
    farm.system.tools.answer = [&](const std::string& line) {
        if (line != kStartServer) return Answer("");
        if (row.server == Server::kCannotStart) return Answer("could not bind", 1);
        if (row.server == Server::kStartTakes1_5s) farm.system.Sleep(1.5);
        farm.system.adb.listening =
            row.server == Server::kStartsWhenAsked || row.server == Server::kStartTakes1_5s;
        return Answer("* daemon started successfully\r\n");
    };
    farm.system.adb.answer = [&row](const std::string& serial, const std::string&) {
        EXPECT_EQ(serial, "127.0.0.1:21513");
        return row.reply;
    };
    std::vector<std::string> args = {"--json"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    EXPECT_EQ(farm.Run(args), row.exit_code) << farm.console.err;

    const nlohmann::json document = nlohmann::json::parse(farm.console.json);
    EXPECT_EQ(document.value("verdict", ""), row.verdict) << farm.console.json;
    EXPECT_EQ(document.value("adb", ""), row.adb);
    EXPECT_NE(farm.console.json.find(row.said), std::string::npos) << farm.console.json;
    EXPECT_EQ(farm.system.adb.Services(), row.services);
    for (const DeviceRequest& request : farm.system.adb.Requests())
        EXPECT_DOUBLE_EQ(request.seconds, row.seconds);
    EXPECT_EQ(farm.system.tools.Lines(), row.lines);
    // The fallback is said once on standard error, and only then.
    const std::string fallback = "could not be reached or started; asking adb.exe for each step";
    EXPECT_EQ(farm.console.err.find(fallback) != std::string::npos, row.adb == "process");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DeviceStepTest,
    testing::Values(
        DeviceRow{
            "text types the device word",
            {"text", "1", "a b&c|d'e"},
            Server::kListening,
            Okay(""),
            0,
            "ok",
            {"shell:input text 'a%sb&c|d'\\''e'"},
            kDefaultLimit,
            {},
            "server",
            R"("command":"host:transport:127.0.0.1:21513 + shell:input text 'a%sb&c|d'\\''e'")"},
        DeviceRow{"key",
                  {"key", "1", "3"},
                  Server::kListening,
                  Okay(""),
                  0,
                  "ok",
                  {"shell:input keyevent 3"},
                  kDefaultLimit,
                  {},
                  "server",
                  ""},
        DeviceRow{"tap within the deadline",
                  {"--deadline", "2.5", "tap", "1", "10", "20"},
                  Server::kListening,
                  Okay(""),
                  0,
                  "ok",
                  {"shell:input tap 10 20"},
                  2.5,
                  {},
                  "server",
                  ""},
        DeviceRow{"swipe",
                  {"swipe", "1", "1", "2", "3", "-4"},
                  Server::kListening,
                  Okay(""),
                  0,
                  "ok",
                  {"shell:input swipe 1 2 3 -4"},
                  kDefaultLimit,
                  {},
                  "server",
                  ""},
        DeviceRow{"clear: Success",
                  {"clear", "1", "com.a.b"},
                  Server::kListening,
                  Okay("Success\r\n"),
                  0,
                  "ok",
                  {"shell:pm clear com.a.b"},
                  kDefaultLimit,
                  {},
                  "server",
                  R"("output":"Success\r\n")"},
        DeviceRow{"clear: no Success phrase",
                  {"clear", "1", "com.a.b"},
                  Server::kListening,
                  Okay("Failed\r\n"),
                  1,
                  "failed",
                  {"shell:pm clear com.a.b"},
                  kDefaultLimit,
                  {},
                  "server",
                  R"(the reply lacks \"Success\")"},
        DeviceRow{"FAIL carries the server's words",
                  {"tap", "1", "10", "20"},
                  Server::kListening,
                  Fail("device offline"),
                  1,
                  "failed",
                  {"shell:input tap 10 20"},
                  kDefaultLimit,
                  {},
                  "server",
                  "the adb server refused the request: device offline"},
        DeviceRow{"a hung request ends at the deadline",
                  {"--deadline", "2", "tap", "1", "10", "20"},
                  Server::kListening,
                  Hang(),
                  4,
                  "deadline",
                  {"shell:input tap 10 20"},
                  2.0,
                  {},
                  "server",
                  "the deadline passed while waiting for the adb server"},
        DeviceRow{"a hung tap ends at the default limit",
                  {"tap", "1", "10", "20"},
                  Server::kListening,
                  Hang(),
                  1,
                  "timed_out",
                  {"shell:input tap 10 20"},
                  kDefaultLimit,
                  {},
                  "server",
                  "the adb server did not answer within the time-out"},
        DeviceRow{"an answer at the default limit is taken",
                  {"text", "1", "a"},
                  Server::kListening,
                  Late(kDefaultLimit, ""),
                  0,
                  "ok",
                  {"shell:input text 'a'"},
                  kDefaultLimit,
                  {},
                  "server",
                  ""},
        DeviceRow{"an answer just after the default limit is not",
                  {"text", "1", "a"},
                  Server::kListening,
                  Late(kDefaultLimit + 0.001, ""),
                  1,
                  "timed_out",
                  {"shell:input text 'a'"},
                  kDefaultLimit,
                  {},
                  "server",
                  "the adb server did not answer within the time-out"},
        DeviceRow{"a hung screenshot ends at the default limit",
                  {"screenshot", "1", "C:\\s.png"},
                  Server::kListening,
                  Hang(),
                  1,
                  "timed_out",
                  {"exec:screencap -p"},
                  kDefaultLimit,
                  {},
                  "server",
                  "the adb server did not answer within the time-out"},
        DeviceRow{"a deadline later than the default is kept",
                  {"--deadline", "90", "swipe", "1", "1", "2", "3", "4"},
                  Server::kListening,
                  Hang(),
                  4,
                  "deadline",
                  {"shell:input swipe 1 2 3 4"},
                  90,
                  {},
                  "server",
                  "the deadline passed while waiting for the adb server"},
        DeviceRow{"no server: one start, then the server answers",
                  {"tap", "1", "10", "20"},
                  Server::kStartsWhenAsked,
                  Okay(""),
                  0,
                  "ok",
                  {"shell:input tap 10 20"},
                  kDefaultLimit,
                  {kStartServer},
                  "server",
                  ""},
        DeviceRow{"a hung start-server ends at the deadline",
                  {"--deadline", "2", "text", "1", "hi"},
                  Server::kStartHangs,
                  Okay(""),
                  4,
                  "deadline",
                  {},
                  0,
                  {kStartServer},
                  "",
                  "the deadline passed while adb.exe start-server was running; it is left "
                  "running"},
        DeviceRow{"a hung screenshot start-server ends at the deadline",
                  {"--deadline", "2", "screenshot", "1", "C:\\s.png"},
                  Server::kStartHangs,
                  Okay(kFakePng),
                  4,
                  "deadline",
                  {},
                  0,
                  {kStartServer},
                  "",
                  "adb.exe start-server was running; it is left running"},
        DeviceRow{"a start-server that ends before the deadline: the server answers",
                  {"--deadline", "2", "tap", "1", "10", "20"},
                  Server::kStartTakes1_5s,
                  Okay(""),
                  0,
                  "ok",
                  {"shell:input tap 10 20"},
                  0.5,  // what is left of the deadline
                  {kStartServer},
                  "server",
                  ""},
        DeviceRow{"start fails: adb.exe for the step",
                  {"tap", "1", "10", "20"},
                  Server::kCannotStart,
                  Okay(""),
                  0,
                  "ok",
                  {},
                  kDefaultLimit,
                  {kStartServer, "adb.exe -s 127.0.0.1:21513 shell input tap 10 20"},
                  "process",
                  R"("command":"adb.exe -s 127.0.0.1:21513 shell input tap 10 20")"},
        DeviceRow{"started but still absent: adb.exe for the step",
                  {"text", "1", "a b"},
                  Server::kStartsButAbsent,
                  Okay(""),
                  0,
                  "ok",
                  {},
                  kDefaultLimit,
                  {kStartServer, "adb.exe -s 127.0.0.1:21513 shell input text 'a%sb'"},
                  "process",
                  ""},
        DeviceRow{"screenshot straight to the file",
                  {"screenshot", "1", "C:\\s.png"},
                  Server::kListening,
                  Okay(kFakePng),
                  0,
                  "ok",
                  {"exec:screencap -p"},
                  kDefaultLimit,
                  {},
                  "server",
                  R"("command":"host:transport:127.0.0.1:21513 + exec:screencap -p")"},
        DeviceRow{"screenshot that is not a PNG",
                  {"screenshot", "1", "C:\\s.png"},
                  Server::kListening,
                  Okay("/system/bin/sh: screencap: not found\n"),
                  1,
                  "failed",
                  {"exec:screencap -p"},
                  kDefaultLimit,
                  {},
                  "server",
                  "is not a PNG picture; C:\\\\s.png was deleted"},
        DeviceRow{"adb SET ARGS keeps adb.exe",
                  {"adb", "1", "shell", "ls"},
                  Server::kListening,
                  Okay(""),
                  0,
                  "ok",
                  {},
                  kDefaultLimit,
                  {"adb.exe -s 127.0.0.1:21513 shell ls"},
                  "",
                  ""}),
    RowName());

TEST(DeviceStep, ScreenshotFileIsKeptOnlyWhenItIsAPng) {
    Farm good;
    EXPECT_EQ(good.Run({"screenshot", "1", "C:\\s.png"}), 0) << good.console.err;
    const std::unique_ptr<WrittenFile> kept = good.system.adb.File("C:\\s.png");
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->closed && !kept->gone);
    EXPECT_EQ(kept->bytes, kFakePng);

    Farm bad;
    bad.system.adb.answer = [](const std::string&, const std::string&) {
        return Okay(kFakePng.substr(0, 7));  // one byte short of the signature
    };
    EXPECT_EQ(bad.Run({"screenshot", "1", "C:\\s.png"}), 1);
    const std::unique_ptr<WrittenFile> removed = bad.system.adb.File("C:\\s.png");
    ASSERT_TRUE(removed);
    EXPECT_TRUE(removed->gone);
    EXPECT_FALSE(bad.system.FileExists("C:\\s.png"));
}

// The deadline bounds "adb.exe start-server" as every other step: a start that hangs is given
// up when the deadline passes, not after its own 10 s, and it is left running.
TEST(DeviceStep, AHungStartServerEndsAtTheDeadline) {
    Farm farm;
    farm.system.adb.listening = false;
    farm.system.tools.hang_on = kStartServer;
    const double started = farm.system.Now();
    EXPECT_EQ(farm.Run({"--deadline", "2", "text", "1", "hi"}), 4) << farm.console.err;
    EXPECT_GE(farm.system.Now() - started, 2.0);
    EXPECT_LT(farm.system.Now() - started, 2.01);
    const std::vector<StartedLine> started_lines = farm.system.tools.Started();
    ASSERT_EQ(started_lines.size(), 1u);
    EXPECT_EQ(started_lines[0].line, kStartServer);
    EXPECT_TRUE(started_lines[0].can_abandon);
    EXPECT_EQ(started_lines[0].timeout_ms, 10000);
    EXPECT_NE(farm.console.err.find("adb.exe start-server was running; it is left running"),
              std::string::npos)
        << farm.console.err;
}

// Over a set each VM's deadline is its own: the VM whose request started the server passes its
// deadline, and the next, finding no server still, asks adb.exe for its step.
TEST(DeviceStep, AStartServerGivenUpForOneVmLeavesTheNextItsOwnDeadline) {
    Farm farm;
    farm.system.adb.listening = false;
    farm.system.tools.hang_on = kStartServer;
    EXPECT_EQ(farm.Run({"--json", "--deadline", "2", "tap", "0-1", "1", "2"}), 4)
        << farm.console.err;
    const nlohmann::json document = nlohmann::json::parse(farm.console.json);
    ASSERT_EQ(document.at("results").size(), 2u) << farm.console.json;
    EXPECT_EQ(document["results"][0].value("verdict", ""), "deadline");
    EXPECT_EQ(document["results"][1].value("verdict", ""), "ok");
    EXPECT_EQ(
        farm.system.tools.Lines(),
        (std::vector<std::string>{kStartServer, "adb.exe -s 127.0.0.1:21513 shell input tap 1 2"}));
}

// A screenshot's FILE from before is removed before anything runs, so only the file the steps
// write passes; one that cannot be removed refuses the command. The first four rows take the
// adb.exe steps (no server can be had), the last the server.
struct StaleFileRow {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> before;       // files there before the run
    std::vector<std::string> unremovable;  // of them, the ones that cannot be removed
    bool server;                           // a server listens
    bool pull_writes;                      // adb.exe pull writes its file
    int exit_code;
    std::vector<std::string> removed;  // what RemoveFile was given, before any tool started
    size_t lines;                      // the tools started
    const char* said;                  // part of standard error; null: nothing
};

void PrintTo(const StaleFileRow& row, std::ostream* out) {
    *out << row.name;
}

class StaleFileTest : public testing::TestWithParam<StaleFileRow> {};

TEST_P(StaleFileTest, OnlyTheFileTheStepsWroteCounts) {
    const StaleFileRow& row = GetParam();
    Farm farm;
    farm.system.adb.listening = row.server;
    for (const std::string& path : row.before) farm.system.AddFile(path);
    for (const std::string& path : row.unremovable) farm.system.unremovable_files.insert(path);
    std::vector<std::string> removed_before_a_tool;
    bool first_tool = true;
    farm.system.tools.answer = [&](const std::string& line) {
        if (first_tool) removed_before_a_tool = farm.system.Removed();
        first_tool = false;
        if (line == kStartServer) return Answer("could not bind", 1);
        const size_t pull = line.find(" pull /sdcard/");
        if (pull != std::string::npos && row.pull_writes)
            farm.system.AddFile(line.substr(line.rfind(' ') + 1));
        return Answer("");
    };
    EXPECT_EQ(farm.Run(row.args), row.exit_code) << farm.console.err;
    EXPECT_EQ(farm.system.Removed(), row.removed);
    if (!first_tool) {
        EXPECT_EQ(removed_before_a_tool, row.removed);
    }
    EXPECT_EQ(farm.system.tools.Lines().size(), row.lines);
    if (row.said) {
        EXPECT_NE(farm.console.err.find(row.said), std::string::npos) << farm.console.err;
    }
    for (const std::string& path : row.unremovable) EXPECT_TRUE(farm.system.FileExists(path));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StaleFileTest,
    testing::Values(StaleFileRow{"a file from before and a pull that writes nothing",
                                 {"screenshot", "1", "C:\\s.png"},
                                 {"C:\\s.png"},
                                 {},
                                 false,
                                 false,
                                 1,
                                 {"C:\\s.png"},
                                 4,
                                 "the screenshot was not saved to C:\\s.png"},
                    StaleFileRow{"a file from before and a pull that writes it",
                                 {"screenshot", "1", "C:\\s.png"},
                                 {"C:\\s.png"},
                                 {},
                                 false,
                                 true,
                                 0,
                                 {"C:\\s.png"},
                                 4,
                                 nullptr},
                    StaleFileRow{"no file before and a pull that writes it",
                                 {"screenshot", "1", "C:\\s.png"},
                                 {},
                                 {},
                                 false,
                                 true,
                                 0,
                                 {"C:\\s.png"},
                                 4,
                                 nullptr},
                    StaleFileRow{
                        "a file from before that cannot be removed",
                        {"screenshot", "1", "C:\\s.png"},
                        {"C:\\s.png"},
                        {"C:\\s.png"},
                        false,
                        true,
                        2,
                        {"C:\\s.png"},
                        0,
                        "FILE C:\\s.png is there from before and cannot be removed (Access is "
                        "denied.); nothing was run"},
                    StaleFileRow{"over a set, the second VM's file cannot be removed",
                                 {"screenshot", "0-1", "C:\\s.png"},
                                 {"C:\\s-0.png", "C:\\s-1.png"},
                                 {"C:\\s-1.png"},
                                 false,
                                 true,
                                 2,
                                 {"C:\\s-0.png", "C:\\s-1.png"},
                                 0,
                                 "FILE C:\\s-1.png is there from before"},
                    StaleFileRow{"through the server, the file from before goes first too",
                                 {"screenshot", "1", "C:\\s.png"},
                                 {"C:\\s.png"},
                                 {},
                                 true,
                                 false,
                                 0,
                                 {"C:\\s.png"},
                                 0,
                                 nullptr}),
    RowName());

// Over a set the way is chosen once: every VM falls back together, and the server is asked to
// start only once.
TEST(DeviceStep, FallbackIsDecidedOnceForTheWholeSet) {
    Farm farm;
    farm.system.adb.listening = false;
    farm.replies = {{kStartServer, Answer("", 1)}};
    EXPECT_EQ(farm.Run({"--json", "tap", "0-7", "1", "2", "--parallel", "4"}), 0)
        << farm.console.err;
    const std::vector<std::string> lines = farm.system.tools.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), kStartServer), 1);
    EXPECT_EQ(lines.size(), 9u);
    EXPECT_NE(farm.console.json.find(R"("adb":"process")"), std::string::npos);
    // Only the VMs asked for before the way was decided tried the server, twice each (before
    // and after the one start): at most one VM a worker. The rest went straight to adb.exe.
    EXPECT_LE(farm.system.adb.Connections(), 2 * 4);
    EXPECT_NE(farm.console.err.find("MEmuFarm: the adb server on port 5037 could not be reached "
                                    "or started; asking adb.exe for each step\n"),
              std::string::npos)
        << farm.console.err;
}

// "adb.exe start-server" that exits non-zero has not started the server, whatever its words say:
// the run takes adb.exe for its steps, at once, without asking the server again.
TEST(DeviceStep, AStartServerThatExitsNonZeroStartedNoServer) {
    for (const unsigned code : {0u, 1u}) {
        Farm farm;
        farm.system.adb.listening = false;
        farm.system.tools.answer = [&](const std::string& line) {
            if (line != kStartServer) return Answer("");
            farm.system.adb.listening = code == 0;
            return Answer("* daemon started successfully\r\n", code);
        };
        EXPECT_EQ(farm.Run({"--json", "tap", "1", "1", "2"}), 0) << code << farm.console.json;
        EXPECT_NE(farm.console.json.find(code == 0 ? R"("adb":"server")" : R"("adb":"process")"),
                  std::string::npos)
            << code << farm.console.json;
        const std::vector<std::string> by_process =
            code == 0 ? std::vector<std::string>{kStartServer}
                      : std::vector<std::string>{kStartServer,
                                                 "adb.exe -s 127.0.0.1:21513 shell input tap 1 2"};
        EXPECT_EQ(farm.system.tools.Lines(), by_process) << code;
    }
}

TEST(DeviceStep, BootedIsOneWhateverTheLineEnd) {
    const struct {
        const char* name;
        const char* reply;
        bool booted;
    } rows[] = {
        {"crlf", "1\r\n", true},   {"lf", "1\n", true},
        {"bare", "1", true},       {"blanks", " 1 \n", true},
        {"zero", "0\n", false},    {"empty", "", false},
        {"eleven", "11\n", false}, {"error", "error: device offline\r\n", false},
    };
    for (const auto& row : rows) EXPECT_EQ(SaysBooted(row.reply), row.booted) << row.name;
}

}  // namespace
