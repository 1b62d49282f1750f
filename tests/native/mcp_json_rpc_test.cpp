// The JSON-RPC layer of the MCP server: what each line in gets back.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "mcp/stdio_server.h"
#include "mcp_fakes.h"
#include "row_name.h"

namespace {

using mcp_test::CallLine;
using mcp_test::CancelLine;

// One message the server must send: a response with this id (JSON text), an error with this
// code or a result (code 0), holding `part` in its error message or result text.
struct Answer {
    std::string id;
    int code;
    std::string part;
};

struct RpcRow {
    const char* name;
    std::vector<std::string> lines;  // after initialize, unless `initialize` is false
    std::vector<Answer> answers;     // in any order (tool calls end on their own threads)
    bool initialize = true;
};

std::ostream& operator<<(std::ostream& out, const RpcRow& row) {
    return out << row.name;
}

std::string Request(const std::string& id, const std::string& method,
                    const std::string& params = "") {
    return R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":")" + method + "\"" +
           (params.empty() ? "" : ",\"params\":" + params) + "}";
}

const std::string kPing = Request("1", "ping");

// What a message is, as an Answer: its id text, its error code or 0, and its text.
Answer Summary(const nlohmann::json& message) {
    const std::string id = message.contains("id") ? message["id"].dump() : "(none)";
    if (message.contains("error"))
        return {id, message["error"]["code"].get<int>(), message["error"]["message"]};
    return {id, 0, message.contains("result") ? message["result"].dump() : message.dump()};
}

class McpJsonRpcTest : public testing::TestWithParam<RpcRow> {};

TEST_P(McpJsonRpcTest, AnswersEachLine) {
    const RpcRow& row = GetParam();
    mcp_test::FakeHost host;
    mcp_test::FakeInput input;
    mcp_test::FakeOutput output;
    mcp_test::FakeDiagnostics diagnostics;
    if (row.initialize) input.PushLine(mcp_test::InitializeLine());
    for (const std::string& line : row.lines) input.PushLine(line);
    input.Close();
    mcp::StdioServer server(host, input, output, diagnostics, mcp_test::TestOptions());
    EXPECT_EQ(server.Run(), 0);

    std::vector<Answer> got;
    for (const auto& message : output.Messages()) {
        EXPECT_EQ(message.value("jsonrpc", ""), "2.0") << message.dump();
        if (row.initialize && message.value("id", nlohmann::json()) == "init") continue;
        got.push_back(Summary(message));
    }
    std::vector<Answer> want = row.answers;
    const auto order = [](const Answer& a, const Answer& b) { return a.id < b.id; };
    std::stable_sort(got.begin(), got.end(), order);
    std::stable_sort(want.begin(), want.end(), order);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].id, want[i].id);
        EXPECT_EQ(got[i].code, want[i].code) << got[i].part;
        EXPECT_NE(got[i].part.find(want[i].part), std::string::npos)
            << got[i].part << " lacks " << want[i].part;
    }
}

const nlohmann::json kNoArguments = nlohmann::json::object();

INSTANTIATE_TEST_SUITE_P(
    Mcp, McpJsonRpcTest,
    testing::Values(
        RpcRow{"ping", {kPing}, {{"1", 0, "{}"}}},
        RpcRow{"number id", {Request("7", "ping")}, {{"7", 0, ""}}},
        RpcRow{"string id", {Request(R"("abc")", "ping")}, {{R"("abc")", 0, ""}}},
        RpcRow{"empty string id", {Request(R"("")", "ping")}, {{R"("")", 0, ""}}},
        RpcRow{"string id that looks like a number",
               {Request(R"("123")", "ping")},
               {{R"("123")", 0, ""}}},
        RpcRow{"largest unsigned id",
               {Request("18446744073709551615", "ping")},
               {{"18446744073709551615", 0, ""}}},
        RpcRow{"lowest signed id",
               {Request("-9223372036854775808", "ping")},
               {{"-9223372036854775808", 0, ""}}},
        RpcRow{"id past 64 bits is refused",
               {Request("18446744073709551616", "ping")},
               {{"null", -32600, "id"}}},
        RpcRow{"fraction id is refused", {Request("1.5", "ping")}, {{"null", -32600, "id"}}},
        RpcRow{"null id is refused", {Request("null", "ping")}, {{"null", -32600, "id"}}},
        RpcRow{"object id is refused", {Request(R"({"a":1})", "ping")}, {{"null", -32600, "id"}}},
        RpcRow{"not JSON, then a good request",
               {R"({"jsonrpc":"2.0","id":2,"method":)", kPing},
               {{"null", -32700, "not JSON"}, {"1", 0, ""}}},
        RpcRow{"trailing text is not JSON", {kPing + " x"}, {{"null", -32700, ""}}},
        RpcRow{"batch array", {"[" + kPing + "]"}, {{"null", -32600, "batch"}}},
        RpcRow{"empty batch array", {"[]"}, {{"null", -32600, "batch"}}},
        RpcRow{"number message", {"42"}, {{"null", -32600, "object"}}},
        RpcRow{"string message", {R"("ping")"}, {{"null", -32600, "object"}}},
        RpcRow{"no jsonrpc", {R"({"id":3,"method":"ping"})"}, {{"3", -32600, "jsonrpc"}}},
        RpcRow{"jsonrpc 1.0",
               {R"({"jsonrpc":"1.0","id":3,"method":"ping"})"},
               {{"3", -32600, "jsonrpc"}}},
        RpcRow{"no method", {R"({"jsonrpc":"2.0","id":3})"}, {{"3", -32600, "method"}}},
        RpcRow{"method not a string",
               {R"({"jsonrpc":"2.0","id":3,"method":5})"},
               {{"3", -32600, "method"}}},
        RpcRow{"params an array", {Request("3", "ping", "[1]")}, {{"3", -32602, "params"}}},
        RpcRow{
            "unknown method", {Request("3", "resources/list")}, {{"3", -32601, "resources/list"}}},
        RpcRow{"a response from the client gets none",
               {R"({"jsonrpc":"2.0","id":9,"result":{}})", kPing},
               {{"1", 0, ""}}},
        RpcRow{
            "notifications get no response",
            {R"({"jsonrpc":"2.0","method":"notifications/initialized"})",
             R"({"jsonrpc":"2.0","method":"ping"})",
             R"({"jsonrpc":"2.0","method":"no/such/method"})",
             R"({"jsonrpc":"2.0","method":"tools/call","params":[1]})", CancelLine("12345"), kPing},
            {{"1", 0, ""}}},
        RpcRow{"blank and CRLF lines", {"", "   ", kPing + "\r"}, {{"1", 0, ""}}},
        RpcRow{"request before initialize, then initialize",
               {Request("1", "tools/list"), Request("2", "ping"), mcp_test::InitializeLine(),
                Request("3", "tools/list")},
               {{"1", -32600, "initialize"},
                {"2", 0, ""},
                {R"("init")", 0, "2025-11-25"},
                {"3", 0, "echo"}},
               false},
        RpcRow{"call before initialize",
               {CallLine("1", "echo", kNoArguments)},
               {{"1", -32600, "initialize"}},
               false},
        RpcRow{"initialize twice",
               {Request("2", "initialize", R"({"protocolVersion":"2025-11-25"})"), kPing},
               {{"2", -32600, "already"}, {"1", 0, ""}}},
        RpcRow{"initialize without protocolVersion",
               {Request("1", "initialize", "{}")},
               {{"1", -32602, "protocolVersion"}},
               false},
        RpcRow{"tools/list", {Request("1", "tools/list")}, {{"1", 0, R"("name":"gate")"}}},
        RpcRow{"tool call", {CallLine("5", "echo", {{"x", 1}})}, {{"5", 0, R"({\"x\":1})"}}},
        RpcRow{"tool call without arguments",
               {Request("5", "tools/call", R"({"name":"echo"})")},
               {{"5", 0, R"("text":"{}")"}}},
        RpcRow{"unknown tool", {CallLine("5", "nope", kNoArguments)}, {{"5", -32602, "nope"}}},
        RpcRow{"tool without a name",
               {Request("5", "tools/call", R"({"arguments":{}})")},
               {{"5", -32602, "name"}}},
        RpcRow{"arguments an array",
               {Request("5", "tools/call", R"({"name":"echo","arguments":[1]})")},
               {{"5", -32602, "arguments"}}},
        RpcRow{"arguments a string",
               {Request("5", "tools/call", R"({"name":"echo","arguments":"x"})")},
               {{"5", -32602, "arguments"}}},
        RpcRow{"progress token an object",
               {CallLine("5", "echo", kNoArguments, R"({"progressToken":{}})")},
               {{"5", -32602, "progressToken"}}},
        RpcRow{
            "tool that throws", {CallLine("5", "throws", kNoArguments)}, {{"5", -32603, "boom"}}},
        RpcRow{"tool that gives no result object",
               {CallLine("5", "bad_result", kNoArguments)},
               {{"5", -32603, "result"}}},
        RpcRow{"setLevel",
               {Request("1", "logging/setLevel", R"({"level":"emergency"})")},
               {{"1", 0, "{}"}}},
        RpcRow{"setLevel to no level",
               {Request("1", "logging/setLevel", R"({"level":"trace"})")},
               {{"1", -32602, "level"}}},
        RpcRow{"setLevel without a level",
               {Request("1", "logging/setLevel", "{}")},
               {{"1", -32602, "level"}}}),
    RowName());

// The version a client asks for, and the one it is answered with.
struct VersionRow {
    const char* name;
    const char* requested;
    const char* answered;
};

class McpVersionTest : public testing::TestWithParam<VersionRow> {};

TEST_P(McpVersionTest, AnswersInitialize) {
    mcp_test::FakeHost host;
    mcp_test::FakeInput input;
    mcp_test::FakeOutput output;
    mcp_test::FakeDiagnostics diagnostics;
    input.PushLine(mcp_test::InitializeLine(GetParam().requested));
    input.Close();
    mcp::StdioServer server(host, input, output, diagnostics, mcp_test::TestOptions());
    ASSERT_EQ(server.Run(), 0);
    const auto messages = output.Messages();
    ASSERT_EQ(messages.size(), 1u);
    const nlohmann::json want = {
        {"protocolVersion", GetParam().answered},
        {"capabilities",
         {{"logging", nlohmann::json::object()}, {"tools", nlohmann::json::object()}}},
        {"serverInfo", {{"name", "MEmuFarm"}, {"version", "9.8.7"}}}};
    EXPECT_EQ(messages[0]["result"], want) << messages[0].dump();
}

INSTANTIATE_TEST_SUITE_P(Mcp, McpVersionTest,
                         testing::Values(VersionRow{"latest", "2025-11-25", "2025-11-25"},
                                         VersionRow{"previous", "2025-06-18", "2025-06-18"},
                                         VersionRow{"older", "2025-03-26", "2025-11-25"},
                                         VersionRow{"oldest", "2024-11-05", "2025-11-25"},
                                         VersionRow{"future", "2099-01-01", "2025-11-25"},
                                         VersionRow{"not a date", "latest", "2025-11-25"}),
                         RowName());

}  // namespace
