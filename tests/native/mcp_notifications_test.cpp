// What a call reports while it runs: progress and log messages.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <ostream>
#include <string>
#include <vector>

#include "mcp/stdio_server.h"
#include "mcp_fakes.h"
#include "row_name.h"

namespace {

// Runs the lines after initialize to the end of input; returns every message after the
// initialize response.
std::vector<nlohmann::json> Serve(const std::vector<std::string>& lines) {
    mcp_test::FakeHost host;
    mcp_test::FakeInput input;
    mcp_test::FakeOutput output;
    mcp_test::FakeDiagnostics diagnostics;
    input.PushLine(mcp_test::InitializeLine());
    for (const std::string& line : lines) input.PushLine(line);
    input.Close();
    mcp::StdioServer server(host, input, output, diagnostics, mcp_test::TestOptions());
    EXPECT_EQ(server.Run(), 0);
    auto messages = output.Messages();
    messages.erase(messages.begin());
    return messages;
}

struct ProgressRow {
    const char* name;
    const char* meta;      // the call's _meta, JSON text; empty for none
    nlohmann::json steps;  // what the tool reports
    nlohmann::json sent;   // the params of each notifications/progress, in order
};

std::ostream& operator<<(std::ostream& out, const ProgressRow& row) {
    return out << row.name;
}

class McpProgressTest : public testing::TestWithParam<ProgressRow> {};

TEST_P(McpProgressTest, SendsIncreasingProgressBeforeTheResponse) {
    const ProgressRow& row = GetParam();
    const auto messages =
        Serve({mcp_test::CallLine("1", "progress", {{"steps", row.steps}}, row.meta)});
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back()["id"], 1);  // nothing after the response
    nlohmann::json sent = nlohmann::json::array();
    for (std::size_t i = 0; i + 1 < messages.size(); ++i) {
        EXPECT_EQ(messages[i]["method"], "notifications/progress");
        EXPECT_FALSE(messages[i].contains("id"));
        sent.push_back(messages[i]["params"]);
    }
    EXPECT_EQ(sent, row.sent) << sent.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Mcp, McpProgressTest,
    testing::Values(
        ProgressRow{"increasing", R"({"progressToken":"t"})",
                    R"([{"progress":1},{"progress":2},{"progress":3}])"_json,
                    R"([{"progressToken":"t","progress":1.0},{"progressToken":"t","progress":2.0},
                        {"progressToken":"t","progress":3.0}])"_json},
        ProgressRow{"repeats and decreases dropped", R"({"progressToken":"t"})",
                    R"([{"progress":1},{"progress":1},{"progress":0.5},{"progress":1.5}])"_json,
                    R"([{"progressToken":"t","progress":1.0},
                        {"progressToken":"t","progress":1.5}])"_json},
        ProgressRow{"zero first", R"({"progressToken":"t"})",
                    R"([{"progress":0},{"progress":0.25}])"_json,
                    R"([{"progressToken":"t","progress":0.0},
                        {"progressToken":"t","progress":0.25}])"_json},
        ProgressRow{"total and message", R"({"progressToken":"t"})",
                    R"([{"progress":1,"total":4,"message":"VM 1 started"}])"_json,
                    R"([{"progressToken":"t","progress":1.0,"total":4.0,
                         "message":"VM 1 started"}])"_json},
        ProgressRow{"integer token comes back as sent", R"({"progressToken":18446744073709551615})",
                    R"([{"progress":1}])"_json,
                    R"([{"progressToken":18446744073709551615,"progress":1.0}])"_json},
        ProgressRow{"no token, no progress", "", R"([{"progress":1}])"_json,
                    nlohmann::json::array()},
        ProgressRow{"meta without a token", "{}", R"([{"progress":1}])"_json,
                    nlohmann::json::array()}),
    RowName());

struct LogRow {
    const char* name;
    const char* level;              // of logging/setLevel; null for none
    std::vector<std::string> sent;  // of debug, info, warning, error, emergency logged
};

std::ostream& operator<<(std::ostream& out, const LogRow& row) {
    return out << row.name;
}

class McpLogTest : public testing::TestWithParam<LogRow> {};

TEST_P(McpLogTest, SendsLogsAtOrAboveTheLevelSet) {
    const LogRow& row = GetParam();
    std::vector<std::string> lines;
    if (row.level)
        lines.push_back(
            std::string(R"({"jsonrpc":"2.0","id":"level","method":"logging/setLevel",)") +
            R"("params":{"level":")" + row.level + "\"}}");
    const auto entries =
        R"([{"level":"debug","data":"d"},{"level":"info","data":{"vm":1}},
            {"level":"warning","data":"w"},{"level":"error","data":"e"},
            {"level":"emergency","data":"x"}])"_json;
    lines.push_back(mcp_test::CallLine("1", "log", {{"entries", entries}}));
    std::vector<std::string> sent;
    for (const auto& message : Serve(lines)) {
        if (message.value("method", "") != "notifications/message") continue;
        EXPECT_EQ(message["params"]["logger"], "fake");
        sent.push_back(message["params"]["level"]);
    }
    EXPECT_EQ(sent, row.sent);
}

INSTANTIATE_TEST_SUITE_P(
    Mcp, McpLogTest,
    testing::Values(
        LogRow{"nothing before setLevel", nullptr, {}},
        LogRow{"debug takes all", "debug", {"debug", "info", "warning", "error", "emergency"}},
        LogRow{"info", "info", {"info", "warning", "error", "emergency"}},
        LogRow{"notice drops info", "notice", {"warning", "error", "emergency"}},
        LogRow{"warning", "warning", {"warning", "error", "emergency"}},
        LogRow{"emergency only", "emergency", {"emergency"}}),
    RowName());

}  // namespace
