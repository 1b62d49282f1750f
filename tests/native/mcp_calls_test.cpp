// Tool calls running at once: answers in the order calls end, cancellation, the end of input,
// the limit on calls in flight.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "mcp_fakes.h"
#include "row_name.h"

namespace {

using mcp_test::CallLine;
using mcp_test::CancelLine;
using mcp_test::ServerThread;

nlohmann::json Key(const std::string& key) {
    return {{"key", key}};
}

// The text of a tool result; the whole message when it is none.
std::string Text(const nlohmann::json& response) {
    const auto text =
        response.value(nlohmann::json::json_pointer("/result/content/0/text"), nlohmann::json());
    return text.is_string() ? text.get<std::string>() : response.dump();
}

// The ids of tools/call responses, in the order they went out.
std::vector<int> CallAnswerOrder(ServerThread& server) {
    std::vector<int> ids;
    for (const auto& message : server.output.Messages())
        if (message.contains("id") && message["id"].is_number()) ids.push_back(message["id"]);
    return ids;
}

struct OrderRow {
    const char* name;
    std::vector<int> release;  // the calls 1, 2, 3 are let go in this order
};

std::ostream& operator<<(std::ostream& out, const OrderRow& row) {
    return out << row.name;
}

class McpCallOrderTest : public testing::TestWithParam<OrderRow> {};

TEST_P(McpCallOrderTest, AnswersEachCallWhenItEnds) {
    ServerThread server;
    for (int id : {1, 2, 3})
        server.input.PushLine(CallLine(std::to_string(id), "gate", Key(std::to_string(id))));
    for (int id : {1, 2, 3}) ASSERT_TRUE(server.host.WaitStarted(std::to_string(id)));
    for (int id : GetParam().release) {
        server.host.Release(std::to_string(id));
        ASSERT_TRUE(server.output.WaitForId(id));
    }
    EXPECT_EQ(server.Finish(), 0);
    EXPECT_EQ(CallAnswerOrder(server), GetParam().release);
    for (int id : {1, 2, 3})
        EXPECT_EQ(Text(server.WithId(id).at(0)), "released " + std::to_string(id));
}

INSTANTIATE_TEST_SUITE_P(Mcp, McpCallOrderTest,
                         testing::Values(OrderRow{"in order", {1, 2, 3}},
                                         OrderRow{"reversed", {3, 2, 1}},
                                         OrderRow{"middle first", {2, 3, 1}}),
                         RowName());

TEST(McpCancelTest, CancelledCallGetsNoResponseAndTheNextIsServed) {
    ServerThread server;
    server.input.PushLine(CallLine("7", "gate", Key("k")));
    ASSERT_TRUE(server.host.WaitStarted("k"));
    // Ids are exact: the string "7" is another request.
    server.input.PushLine(CancelLine(R"("7")"));
    server.input.PushLine(CancelLine("12345"));
    server.input.PushLine(R"({"jsonrpc":"2.0","id":100,"method":"ping"})");
    ASSERT_TRUE(server.output.WaitForId(100));
    EXPECT_FALSE(server.host.GateOf("k").returned);

    server.input.PushLine(CancelLine("7"));
    server.input.PushLine(CallLine("7", "echo", {{"n", 7}}));  // the id is free at once
    ASSERT_TRUE(server.host.WaitSawStop("k"));
    server.input.PushLine(CallLine("8", "echo", {{"n", 8}}));
    ASSERT_TRUE(server.output.WaitForId(8));
    server.input.PushLine(CancelLine("8"));  // already answered: ignored
    ASSERT_TRUE(server.output.WaitForId(7));
    EXPECT_EQ(server.Finish(), 0);

    const auto sevens = server.WithId(7);
    ASSERT_EQ(sevens.size(), 1u);
    EXPECT_EQ(Text(sevens[0]), R"({"n":7})");  // the second call's answer, not the cancelled one
    EXPECT_EQ(Text(server.WithId(8).at(0)), R"({"n":8})");
}

TEST(McpCancelTest, IdOfARunningCallIsRefused) {
    ServerThread server;
    server.input.PushLine(CallLine("1", "gate", Key("k")));
    ASSERT_TRUE(server.host.WaitStarted("k"));
    server.input.PushLine(CallLine("1", "echo", nlohmann::json::object()));
    ASSERT_TRUE(server.output.WaitForId(1));
    const auto refused = server.WithId(1);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0]["error"]["code"], -32600);
    server.host.Release("k");
    ASSERT_TRUE(server.output.WaitForCount(3));  // initialize, the refusal, the call
    EXPECT_EQ(server.Finish(), 0);
    EXPECT_EQ(Text(server.WithId(1).at(1)), "released k");
}

TEST(McpEndTest, InputEndingMidCallStopsTheCallAndWaitsForIt) {
    ServerThread server;
    server.input.PushLine(CallLine("1", "gate", Key("k")));
    ASSERT_TRUE(server.host.WaitStarted("k"));
    EXPECT_EQ(server.Finish(), 0);
    const auto gate = server.host.GateOf("k");
    EXPECT_TRUE(gate.saw_stop);
    EXPECT_TRUE(gate.returned);
    // What the call gave when stopped goes out as it is: a failure, never a success.
    const auto answers = server.WithId(1);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(Text(answers[0]), "stopped k");
    EXPECT_EQ(answers[0]["result"]["isError"], true);
}

TEST(McpEndTest, BrokenOutputEndsTheServer) {
    ServerThread server;
    ASSERT_TRUE(server.output.WaitForId("init"));
    server.output.Break();
    server.input.PushLine(R"({"jsonrpc":"2.0","id":1,"method":"ping"})");
    EXPECT_EQ(server.Finish(), 1);
}

struct LimitRow {
    const char* name;
    std::size_t max_calls;
};

std::ostream& operator<<(std::ostream& out, const LimitRow& row) {
    return out << row.name;
}

class McpLimitTest : public testing::TestWithParam<LimitRow> {};

TEST_P(McpLimitTest, CallPastTheLimitIsBusyAtOnce) {
    const int limit = static_cast<int>(GetParam().max_calls);
    ServerThread server(mcp_test::TestOptions(GetParam().max_calls));
    for (int i = 0; i < limit; ++i)
        server.input.PushLine(CallLine(std::to_string(i), "gate", Key(std::to_string(i))));
    ASSERT_TRUE(server.host.WaitStartedCount(limit));  // the call at the limit runs
    server.input.PushLine(CallLine("1000", "gate", Key("past")));
    ASSERT_TRUE(server.output.WaitForId(1000));
    const auto busy = server.WithId(1000).at(0);
    EXPECT_EQ(busy["result"]["isError"], true);
    EXPECT_NE(Text(busy).find("busy"), std::string::npos) << Text(busy);

    // Once one has ended, the next is taken.
    server.host.Release("0");
    ASSERT_TRUE(server.output.WaitForId(0));
    server.input.PushLine(CallLine("1001", "gate", Key("next")));
    ASSERT_TRUE(server.host.WaitStarted("next"));
    server.host.ReleaseAll();
    EXPECT_EQ(server.Finish(), 0);
    EXPECT_FALSE(server.host.GateOf("past").started);
    EXPECT_EQ(server.host.peak_running, limit);
}

INSTANTIATE_TEST_SUITE_P(Mcp, McpLimitTest,
                         testing::Values(LimitRow{"one", 1}, LimitRow{"two", 2},
                                         LimitRow{"default", 32}),
                         RowName());

TEST(McpManyCallsTest, ThousandCallsAtOnceAreAllAnsweredOnce) {
    ServerThread server;
    std::string lines;
    for (int i = 0; i < 1000; ++i) lines += CallLine(std::to_string(i), "gate", Key("all")) + "\n";
    server.input.Push(lines);
    ASSERT_TRUE(server.output.WaitForCount(1 + 1000 - 32));  // initialize, then the busy ones
    ASSERT_TRUE(server.host.WaitStartedCount(32));
    server.host.ReleaseAll();
    ASSERT_TRUE(server.output.WaitForCount(1 + 1000));
    EXPECT_EQ(server.Finish(), 0);

    std::multiset<int> ids;
    int busy = 0;
    for (const auto& message : server.output.Messages()) {
        if (!message["id"].is_number()) continue;
        ids.insert(message["id"].get<int>());
        busy += Text(message).find("busy") != std::string::npos;
    }
    EXPECT_EQ(ids.size(), 1000u);
    EXPECT_EQ(std::set<int>(ids.begin(), ids.end()).size(), 1000u);
    EXPECT_EQ(busy, 1000 - 32);
    EXPECT_EQ(server.host.peak_running, 32);
}

}  // namespace
