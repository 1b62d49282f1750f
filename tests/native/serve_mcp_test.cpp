// MCP over HTTP without a socket: the session table (create, find, end, idle expiry on a fake
// clock, the limit at its boundary), the status of each kind of POST and DELETE, the answer as
// JSON or as an event stream, and that no session's cancel or dropped connection touches a
// call it should not.
#include "serve/mcp_http.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "mcp_fakes.h"
#include "row_name.h"

namespace {

using mcp_test::CallLine;
using mcp_test::CancelLine;
using mcp_test::FakeDiagnostics;
using mcp_test::FakeHost;
using mcp_test::InitializeLine;
using mcp_test::kGuard;

// Counts up: every id differs; fails when told to.
class FakeRandom : public serve::RandomSource {
public:
    bool Fill(unsigned char* bytes, std::size_t size) override {
        if (fail) return false;
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i);
        bytes[0] = static_cast<unsigned char>(++count);
        bytes[1] = static_cast<unsigned char>(count >> 8);
        return true;
    }
    bool fail = false;
    int count = 0;
};

// Records what a POST's connection was given, in order.
class FakeStream : public serve::McpStream {
public:
    void Answer(const serve::HttpAnswer& answer) override {
        std::lock_guard lock(mutex_);
        answers.push_back(answer);
        done = true;
        changed_.notify_all();
    }
    void Begin(const serve::HeaderList& headers) override {
        std::lock_guard lock(mutex_);
        begun = true;
        begin_headers = headers;
    }
    void Event(const std::string& message) override {
        std::lock_guard lock(mutex_);
        events.push_back(nlohmann::json::parse(message));
        changed_.notify_all();
    }
    void End() override {
        std::lock_guard lock(mutex_);
        ended = true;
        done = true;
        changed_.notify_all();
    }
    bool WaitDone() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard, [this] { return done; });
    }
    int Status() {
        std::lock_guard lock(mutex_);
        return answers.empty() ? 0 : answers.front().status;
    }
    std::string Header(const std::string& name) {
        std::lock_guard lock(mutex_);
        const serve::HeaderList& headers = answers.empty() ? begin_headers : answers[0].headers;
        for (const auto& [key, value] : headers)
            if (key == name) return value;
        return {};
    }
    nlohmann::json Body() {
        std::lock_guard lock(mutex_);
        return answers.empty() || answers[0].body.empty() ? nlohmann::json()
                                                          : nlohmann::json::parse(answers[0].body);
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<serve::HttpAnswer> answers;
    std::vector<nlohmann::json> events;
    serve::HeaderList begin_headers;
    bool begun = false;
    bool ended = false;
    bool done = false;
};

class McpHttpTest : public testing::Test {
protected:
    explicit McpHttpTest(std::size_t max_sessions = 3) {
        serve::McpHttpSettings settings;
        settings.limits.max_sessions = max_sessions;
        settings.limits.idle_seconds = 100;
        settings.session.server_name = "MEmuFarm";
        settings.session.max_calls = 8;
        settings.now = [this] { return now_; };
        http_ = std::make_unique<serve::McpHttp>(host_, diagnostics_, random_, settings);
    }
    ~McpHttpTest() override {
        host_.ReleaseAll();
        http_->EndAll();
    }

    struct Posted {
        std::shared_ptr<FakeStream> stream;
        serve::McpPostHandle handle;
        std::string verdict;
    };
    Posted Post(const std::string& body, const std::string& session = "",
                const std::string& version = "") {
        serve::RequestHead head;
        head.method = "POST";
        head.target = "/mcp";
        if (!session.empty()) head.headers.Add("Mcp-Session-Id", session);
        if (!version.empty()) head.headers.Add("MCP-Protocol-Version", version);
        Posted posted;
        posted.stream = std::make_shared<FakeStream>();
        posted.handle = http_->Post(head, body, posted.stream, &posted.verdict);
        return posted;
    }
    // A new initialized session's id ("" when none was given).
    std::string Begin() {
        Posted init = Post(InitializeLine());
        const std::string id = init.stream->Header("Mcp-Session-Id");
        if (!id.empty()) Post(mcp_test::InitializedLine(), id);
        return id;
    }
    int Delete(const std::string& session) {
        serve::RequestHead head;
        head.method = "DELETE";
        head.target = "/mcp";
        if (!session.empty()) head.headers.Add("Mcp-Session-Id", session);
        std::string verdict;
        return http_->Delete(head, &verdict).status;
    }

    FakeHost host_;
    FakeDiagnostics diagnostics_;
    FakeRandom random_;
    std::int64_t now_ = 1000;
    std::unique_ptr<serve::McpHttp> http_;
};

const std::string kList = R"({"jsonrpc":"2.0","id":7,"method":"tools/list"})";
const std::string kPing = R"({"jsonrpc":"2.0","id":"p","method":"ping"})";

// --- The status of each kind of message ------------------------------------------------------

struct StatusRow {
    const char* name;
    std::string body;
    bool in_session;
    int status;
    bool session_header;  // the answer names the session
};

class McpStatusTest : public McpHttpTest, public testing::WithParamInterface<StatusRow> {};

TEST_P(McpStatusTest, AnswersWithItsStatus) {
    const StatusRow& row = GetParam();
    const std::string session = row.in_session ? Begin() : "";
    ASSERT_EQ(row.in_session, !session.empty());
    Posted posted = Post(row.body, session);
    ASSERT_TRUE(posted.stream->WaitDone());
    EXPECT_EQ(posted.stream->Status(), row.status) << posted.verdict;
    EXPECT_EQ(!posted.stream->Header("Mcp-Session-Id").empty(), row.session_header);
    if (row.status == 202) {
        EXPECT_TRUE(posted.stream->answers[0].body.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, McpStatusTest,
    testing::Values(
        StatusRow{"initialize_begins_a_session", InitializeLine(), false, 200, true},
        StatusRow{"initialize_refused_names_no_session",
                  R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{}})", false, 200,
                  false},
        StatusRow{"request_without_session", kList, false, 400, false},
        StatusRow{"ping_without_session", kPing, false, 400, false},
        StatusRow{"notification_without_session", mcp_test::InitializedLine(), false, 400, false},
        StatusRow{"request_in_session", kList, true, 200, true},
        StatusRow{"ping_in_session", kPing, true, 200, true},
        StatusRow{"notification", mcp_test::InitializedLine(), true, 202, true},
        StatusRow{"cancel_of_nothing", CancelLine("99"), true, 202, true},
        StatusRow{"client_response", R"({"jsonrpc":"2.0","id":5,"result":{}})", true, 202, true},
        StatusRow{"not_json", "{nope", true, 400, false},
        StatusRow{"batch", "[" + kList + "]", true, 400, true},
        StatusRow{"notification_bad_version", R"({"jsonrpc":"1.0","method":"x"})", true, 400, true},
        StatusRow{"second_initialize_is_an_error", InitializeLine(), true, 200, true}),
    RowName());

TEST_F(McpHttpTest, UnknownAndEndedSessionsAre404) {
    EXPECT_EQ(Post(kList, "0123456789abcdef0123456789abcdef").stream->Status(), 404);
    const std::string session = Begin();
    EXPECT_EQ(Post(kList, session).stream->Status(), 200);
    EXPECT_EQ(Delete(""), 400);
    EXPECT_EQ(Delete("0123456789abcdef0123456789abcdef"), 404);
    EXPECT_EQ(Delete(session), 200);
    EXPECT_EQ(Post(kList, session).stream->Status(), 404);
    EXPECT_EQ(Delete(session), 404);
}

TEST_F(McpHttpTest, ARefusedInitializeKeepsNoSession) {
    Post(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{}})");
    EXPECT_EQ(http_->Sessions(), 0u);
    Begin();
    EXPECT_EQ(http_->Sessions(), 1u);
}

// --- The limit and the idle time -----------------------------------------------------------

TEST_F(McpHttpTest, TheLimitRefusesOneMoreAndFreesOnEnd) {
    std::vector<std::string> ids;
    for (int i = 0; i < 3; ++i) ids.push_back(Begin());
    for (const std::string& id : ids) EXPECT_FALSE(id.empty());
    Posted refused = Post(InitializeLine());
    EXPECT_EQ(refused.stream->Status(), 503);
    EXPECT_NE(refused.stream->Body()["error"]["message"].get<std::string>().find("3 sessions"),
              std::string::npos);
    // Every session there still answers: none was ended to make room.
    for (const std::string& id : ids) EXPECT_EQ(Post(kPing, id).stream->Status(), 200);
    EXPECT_EQ(Delete(ids[1]), 200);
    EXPECT_FALSE(Begin().empty());
}

struct IdleRow {
    const char* name;
    std::int64_t later;
    bool kept;
};

class McpIdleTest : public McpHttpTest, public testing::WithParamInterface<IdleRow> {};

TEST_P(McpIdleTest, EndsASessionIdleForTheIdleTime) {
    const std::string session = Begin();
    now_ += GetParam().later;
    EXPECT_EQ(Post(kPing, session).stream->Status(), GetParam().kept ? 200 : 404);
}

INSTANTIATE_TEST_SUITE_P(Rows, McpIdleTest,
                         testing::Values(IdleRow{"just_under", 99, true},
                                         IdleRow{"at_the_idle_time", 100, false},
                                         IdleRow{"long_after", 100000, false}),
                         RowName());

TEST_F(McpHttpTest, EachRequestRestartsTheIdleTime) {
    const std::string session = Begin();
    for (int i = 0; i < 5; ++i) {
        now_ += 60;
        ASSERT_EQ(Post(kPing, session).stream->Status(), 200) << i;
    }
}

TEST_F(McpHttpTest, ASessionWaitingForAnAnswerIsNotIdle) {
    const std::string session = Begin();
    Posted call = Post(CallLine("1", "gate", {{"key", "a"}}), session);
    ASSERT_TRUE(host_.WaitStarted("a"));
    now_ += 1000;
    // Another session's initialize looks at the idle ones: this one waits for its answer.
    Begin();
    host_.Release("a");
    ASSERT_TRUE(call.stream->WaitDone());
    EXPECT_EQ(call.stream->Status(), 200);
    EXPECT_EQ(Post(kPing, session).stream->Status(), 200);
}

TEST_F(McpHttpTest, IdleSessionsMakeRoomWhenTheyExpire) {
    for (int i = 0; i < 3; ++i) Begin();
    EXPECT_EQ(Post(InitializeLine()).stream->Status(), 503);
    now_ += 100;
    EXPECT_FALSE(Begin().empty());
    EXPECT_EQ(http_->Sessions(), 1u);
}

TEST(McpSessionTableTest, AFailedGeneratorGivesNoSession) {
    FakeHost host;
    FakeDiagnostics diagnostics;
    FakeRandom random;
    random.fail = true;
    serve::McpSessionTable table({}, random, [&](std::string id) {
        return std::make_shared<serve::McpHttpSession>(id, host, diagnostics, mcp::SessionOptions{},
                                                       0);
    });
    std::vector<std::shared_ptr<serve::McpHttpSession>> ended;
    EXPECT_EQ(table.Create(0, &ended), nullptr);
    random.fail = false;
    auto a = table.Create(0, &ended);
    auto b = table.Create(0, &ended);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->Id(), b->Id());
    EXPECT_EQ(a->Id().size(), 32u);
    EXPECT_EQ(table.Find(b->Id(), 0, &ended), b);
    EXPECT_EQ(table.Remove(a->Id()), a);
    EXPECT_EQ(table.Find(a->Id(), 0, &ended), nullptr);
}

// --- Answers: JSON, or an event stream -----------------------------------------------------

TEST_F(McpHttpTest, ACallWithoutNotificationsIsAnsweredAsJson) {
    const std::string session = Begin();
    Posted call = Post(CallLine("1", "echo", {{"x", 1}}), session);
    ASSERT_TRUE(call.stream->WaitDone());
    EXPECT_FALSE(call.stream->begun);
    EXPECT_EQ(call.stream->Status(), 200);
    EXPECT_EQ(call.stream->Body()["id"], 1);
    EXPECT_EQ(call.stream->Header("Content-Type"), "application/json");
}

TEST_F(McpHttpTest, ACallWithProgressIsAnEventStreamEndingInItsAnswer) {
    const std::string session = Begin();
    Posted call = Post(CallLine("\"c\"", "progress",
                                {{"steps", {{{"progress", 1}, {"total", 2}}, {{"progress", 2}}}}},
                                R"({"progressToken":"t"})"),
                       session);
    ASSERT_TRUE(call.stream->WaitDone());
    EXPECT_TRUE(call.stream->begun);
    EXPECT_TRUE(call.stream->ended);
    EXPECT_TRUE(call.stream->answers.empty());
    EXPECT_EQ(call.stream->Header("Mcp-Session-Id"), session);
    ASSERT_EQ(call.stream->events.size(), 3u);
    EXPECT_EQ(call.stream->events[0]["method"], "notifications/progress");
    EXPECT_EQ(call.stream->events[1]["params"]["progress"], 2);
    EXPECT_EQ(call.stream->events[2]["id"], "c");
    EXPECT_EQ(call.stream->events[2]["result"]["content"][0]["text"], "done");
}

TEST_F(McpHttpTest, LogMessagesGoOnTheirCallsStream) {
    const std::string session = Begin();
    Post(R"({"jsonrpc":"2.0","id":2,"method":"logging/setLevel","params":{"level":"info"}})",
         session);
    Posted call =
        Post(CallLine("3", "log", {{"entries", {{{"level", "info"}, {"data", "hi"}}}}}), session);
    ASSERT_TRUE(call.stream->WaitDone());
    ASSERT_EQ(call.stream->events.size(), 2u);
    EXPECT_EQ(call.stream->events[0]["params"]["data"], "hi");
    EXPECT_EQ(call.stream->events[1]["id"], 3);
}

TEST_F(McpHttpTest, ASecondRequestWithAnOpenIdIsRefused) {
    const std::string session = Begin();
    Posted first = Post(CallLine("1", "gate", {{"key", "a"}}), session);
    ASSERT_TRUE(host_.WaitStarted("a"));
    Posted second = Post(CallLine("1", "echo", nlohmann::json::object()), session);
    ASSERT_TRUE(second.stream->WaitDone());
    EXPECT_EQ(second.stream->Body()["error"]["code"], -32600);
    host_.Release("a");
    ASSERT_TRUE(first.stream->WaitDone());
    EXPECT_EQ(first.stream->Body()["result"]["content"][0]["text"], "released a");
}

// --- Cancellation and dropped connections ---------------------------------------------------

TEST_F(McpHttpTest, ACancelInOneSessionLeavesTheOthersCallWithTheSameId) {
    const std::string a = Begin();
    const std::string b = Begin();
    Posted in_a = Post(CallLine("1", "gate", {{"key", "a"}}), a);
    Posted in_b = Post(CallLine("1", "gate", {{"key", "b"}}), b);
    ASSERT_TRUE(host_.WaitStarted("a") && host_.WaitStarted("b"));
    EXPECT_EQ(Post(CancelLine("1"), a).stream->Status(), 202);
    ASSERT_TRUE(host_.WaitSawStop("a"));
    // A's stream ends with no answer; B's call runs on to its own.
    ASSERT_TRUE(in_a.stream->WaitDone());
    EXPECT_TRUE(in_a.stream->ended);
    EXPECT_TRUE(in_a.stream->events.empty());
    EXPECT_FALSE(host_.GateOf("b").returned);
    host_.Release("b");
    ASSERT_TRUE(in_b.stream->WaitDone());
    EXPECT_EQ(in_b.stream->Body()["result"]["content"][0]["text"], "released b");
}

TEST_F(McpHttpTest, ADroppedConnectionDoesNotCancelTheCallAndItsAnswerIsNotKept) {
    const std::string session = Begin();
    Posted call = Post(CallLine("1", "gate", {{"key", "a"}}), session);
    ASSERT_TRUE(host_.WaitStarted("a"));
    call.handle.Dropped();
    host_.Release("a");
    // The session answers on: the next call gets its own answer, the dropped one none.
    for (int i = 0; i < 1000 && !host_.GateOf("a").returned; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(host_.GateOf("a").returned);
    EXPECT_FALSE(host_.GateOf("a").saw_stop);
    EXPECT_FALSE(call.stream->done);
    Posted next = Post(CallLine("2", "echo", nlohmann::json::object()), session);
    ASSERT_TRUE(next.stream->WaitDone());
    EXPECT_EQ(next.stream->Body()["id"], 2);
    EXPECT_FALSE(call.stream->done);
}

TEST_F(McpHttpTest, EndingASessionStopsItsCallsAndClosesTheirStreams) {
    const std::string session = Begin();
    Posted call = Post(CallLine("1", "gate", {{"key", "a"}}), session);
    ASSERT_TRUE(host_.WaitStarted("a"));
    EXPECT_EQ(Delete(session), 200);
    ASSERT_TRUE(call.stream->WaitDone());
    EXPECT_TRUE(host_.GateOf("a").saw_stop);
    // The call stopped at the server's word answers that it stopped.
    EXPECT_EQ(call.stream->Body()["result"]["isError"], true);
}

}  // namespace
