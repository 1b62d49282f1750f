// POST /api/run carried out on the fake system: the owner's limits refuse before anything
// runs, a command that ran answers with the console's document and its status, and the
// answers the HTTP side gives without running anything (busy, stopping, the door's).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <utility>
#include <vector>

#include "agent/serve_options.h"
#include "agent_test_support.h"
#include "fake_farm_system.h"
#include "row_name.h"
#include "serve/host_check.h"
#include "serve/run_call.h"

namespace {

using Json = nlohmann::json;

const std::string kThreeVms = "0,MEmu,0,0,0\r\n1,MEmu_1,11,1,5678\r\n2,MEmu_2,0,0,0\r\n";

struct Owner {
    bool read_only = false;
    const char* vms = nullptr;    // --vms SET
    const char* tools = nullptr;  // --tools NAME,...
    const char* files = nullptr;  // --files DIR
};

struct CallRow {
    const char* name;
    Owner owner;
    const char* body;
    std::vector<std::pair<std::string, ToolRun>> replies;
    int status;
    int exit_code;
    const char* part;   // in the answer's text
    size_t tool_lines;  // the tool starts it made
};

class ServeCall : public testing::TestWithParam<CallRow> {};

TEST_P(ServeCall, AnswersWithTheDocumentAndItsStatus) {
    const CallRow& row = GetParam();
    FakeFarmSystem system;
    std::vector<std::pair<std::string, ToolRun>> replies = row.replies;
    replies.push_back({"listvms", Answer(kThreeVms)});
    system.tools.answer = [&replies](const std::string& line) {
        for (const auto& [part, reply] : replies)
            if (line.find(part) != std::string::npos) return reply;
        return Answer("");
    };
    agent::HostOptions options;
    options.limits.read_only = row.owner.read_only;
    if (row.owner.vms) {
        std::string error;
        options.limits.vms = ParseVmSet(row.owner.vms, &error);
        options.limits.vms_text = row.owner.vms;
    }
    if (row.owner.tools) options.limits.tools = std::set<std::string>{row.owner.tools};
    if (row.owner.files) options.limits.files = row.owner.files;
    options.gbk_of = agent_test::AsciiOnly;
    options.install_dir = "C:\\MEmu\\";
    agent::StartGate gate(options.parallel);
    serve::RunService service{system, gate, options, {options.limits.files, "9.9"}};
    std::stop_source stop;

    const serve::RunAnswer answer = serve::AnswerRun(row.body, service, stop.get_token());
    const std::string text = answer.reply.body.dump();
    EXPECT_EQ(answer.reply.status, row.status) << text;
    EXPECT_EQ(answer.reply.body.value("exit_code", -1), row.exit_code) << text;
    EXPECT_NE(text.find(row.part), std::string::npos) << text;
    EXPECT_EQ(system.tools.Lines().size(), row.tool_lines) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ServeCall,
    testing::Values(CallRow{"list", {}, R"({"argv":["list"]})", {}, 200, 0, R"("vms":[)", 1},
                    CallRow{"step_failed",
                            {},
                            R"({"argv":["start","1","--wait"]})",
                            {{"start", Answer("ERROR: no VM", 1)}},
                            500,
                            1,
                            "ERROR: no VM",
                            1},
                    CallRow{"not_running_is_an_answer",
                            {},
                            R"({"argv":["running","2"]})",
                            {{"isvmrunning", Answer("Not Running")}},
                            200,
                            1,
                            "Not Running",
                            1},
                    CallRow{"usage_error", {}, R"({"argv":["start"]})", {}, 422, 2, "SET", 0},
                    CallRow{"not_json", {}, R"({"argv":["start")", {}, 400, 2, "not JSON", 0},
                    CallRow{
                        "help_is_answered", {}, R"({"argv":["--help"]})", {}, 200, 0, "serve", 0},
                    CallRow{"read_only_holds_back_start",
                            {.read_only = true},
                            R"({"argv":["start","1"]})",
                            {},
                            422,
                            2,
                            "--read-only",
                            0},
                    CallRow{"read_only_lets_list",
                            {.read_only = true},
                            R"({"argv":["list"]})",
                            {},
                            200,
                            0,
                            R"("ok":true)",
                            1},
                    CallRow{"tools_hold_back_others",
                            {.tools = "list"},
                            R"({"argv":["running","1"]})",
                            {},
                            422,
                            2,
                            "--tools",
                            0},
                    CallRow{"vms_refuse_a_vm_outside",
                            {.vms = "0-1"},
                            R"({"argv":["start","2"]})",
                            {},
                            422,
                            2,
                            "--vms 0-1",
                            0},
                    CallRow{"vms_take_one_inside",
                            {.vms = "0-1"},
                            R"({"argv":["start","1","--wait"]})",
                            {{"start", Answer("SUCCESS: start vm finished.")}},
                            200,
                            0,
                            "memuc start -i 1",
                            1},
                    CallRow{"vms_narrow_all_to_theirs",
                            {.vms = "0-1"},
                            R"({"argv":["start","all","--wait"]})",
                            {{"start", Answer("SUCCESS: start vm finished.")}},
                            200,
                            0,
                            "memuc start -i 1",
                            3},  // the listing, then VMs 0 and 1
                    CallRow{"vms_hold_back_what_leaves_the_set",
                            {.vms = "0-1"},
                            R"({"argv":["stopall"]})",
                            {},
                            422,
                            2,
                            "reaches past",
                            0},
                    CallRow{"adb_is_never_served",
                            {.files = "C:\\files"},
                            R"({"argv":["adb","1","pull","/sdcard/x","C:\\elsewhere\\x"]})",
                            {},
                            422,
                            2,
                            "not run through the web service",
                            0},
                    CallRow{"a_path_inside_files",
                            {.files = "C:\\files"},
                            R"({"argv":["health","1","--prom","C:\\files\\farm.prom"]})",
                            {},
                            200,
                            0,
                            R"("ok":true)",
                            1},
                    CallRow{"a_path_outside_files",
                            {.files = "C:\\files"},
                            R"({"argv":["health","1","--prom","C:\\other\\farm.prom"]})",
                            {},
                            422,
                            2,
                            "not inside the files folder",
                            0}),
    RowName());

TEST(ServeCall, TheServersCapBoundsTheCommand) {
    FakeFarmSystem system;
    system.tools.hang_on = "start";
    agent::HostOptions options;
    options.gbk_of = agent_test::AsciiOnly;
    options.deadline_s = 5;
    agent::StartGate gate(options.parallel);
    serve::RunService service{system, gate, options, {std::nullopt, "9.9"}};
    std::stop_source stop;
    const double began = system.Now();
    const serve::RunAnswer answer = serve::AnswerRun(
        R"({"argv":["start","1","--wait","--deadline","100"]})", service, stop.get_token());
    EXPECT_EQ(answer.reply.status, 504) << answer.reply.body.dump();
    EXPECT_EQ(answer.reply.body.value("exit_code", -1), 4);
    EXPECT_LT(system.Now() - began, 6);
}

struct QuickRow {
    const char* name;
    serve::RunReply reply;
    int status;
    const char* part;
};

class ServeQuickAnswer : public testing::TestWithParam<QuickRow> {};

// Answered without running anything: exit code 2 when refused, busy ones marked busy.
TEST_P(ServeQuickAnswer, CarriesItsStatusAndSaysWhy) {
    const QuickRow& row = GetParam();
    const std::string text = row.reply.body.dump();
    EXPECT_EQ(row.reply.status, row.status);
    EXPECT_NE(text.find(row.part), std::string::npos) << text;
    EXPECT_EQ(row.reply.body.value("ok", true), row.status == 200) << text;
    EXPECT_EQ(row.reply.body.contains("busy"),
              row.status == 503 && text.find("busy:") != std::string::npos);
}

const Utf8Of kSame = [](std::string_view text) { return std::string(text); };

INSTANTIATE_TEST_SUITE_P(
    Rows, ServeQuickAnswer,
    testing::Values(QuickRow{"busy", serve::BusyReply(32, kSame), 503, "32 requests run already"},
                    QuickRow{"connections", serve::TooManyConnectionsReply(64, kSame), 503,
                             "64 connections"},
                    QuickRow{"stopping", serve::StoppingReply(kSame), 503, "stopping"},
                    QuickRow{"door", serve::DoorReply(401, "the token is wrong", kSame), 401,
                             R"("exit_code":2)"},
                    QuickRow{"not_http", serve::NotHttpReply(kSame), 400, "no HTTP"},
                    QuickRow{"mcp_not_yet",
                             serve::NotServedYetReply(serve::RowOf(serve::Door::kMcpPost), kSame),
                             501, "POST /mcp is not served yet"},
                    QuickRow{"health", serve::HealthReply(), 200, R"({"ok":true})"}),
    RowName());

struct ListenRow {
    const char* name;
    const char* text;
    const char* host;  // null: refused
    uint16_t port;
};

class ServeListen : public testing::TestWithParam<ListenRow> {};

TEST_P(ServeListen, TakesAnAddressAndAPort) {
    const ListenRow& row = GetParam();
    const std::optional<serve::ListenAddress> listen = serve::ParseListen(row.text);
    ASSERT_EQ(listen.has_value(), row.host != nullptr) << row.text;
    if (!listen) return;
    EXPECT_EQ(listen->host, row.host);
    EXPECT_EQ(listen->port, row.port);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ServeListen,
    testing::Values(ListenRow{"loopback", "127.0.0.1:7420", "127.0.0.1", 7420},
                    ListenRow{"everywhere", "0.0.0.0:80", "0.0.0.0", 80},
                    ListenRow{"localhost", "localhost:8080", "127.0.0.1", 8080},
                    ListenRow{"ipv6", "[::1]:9000", "::1", 9000},
                    ListenRow{"lowest_port", "127.0.0.1:1", "127.0.0.1", 1},
                    ListenRow{"highest_port", "127.0.0.1:65535", "127.0.0.1", 65535},
                    ListenRow{"port_zero", "127.0.0.1:0", nullptr, 0},
                    ListenRow{"port_too_high", "127.0.0.1:65536", nullptr, 0},
                    ListenRow{"no_port", "127.0.0.1", nullptr, 0},
                    ListenRow{"empty_port", "127.0.0.1:", nullptr, 0},
                    ListenRow{"ipv6_no_port", "[::1]", nullptr, 0},
                    ListenRow{"a_name", "farm.example:80", nullptr, 0},
                    ListenRow{"octet_too_big", "256.0.0.1:80", nullptr, 0},
                    ListenRow{"three_octets", "10.0.1:80", nullptr, 0}),
    RowName());

}  // namespace
