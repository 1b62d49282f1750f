// Input no client should send: lines past the size limit, deep nesting, text that is not UTF-8.
// Each gets a clear error or a bounded refusal, and the next request is served.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "mcp/stdio_server.h"
#include "mcp_fakes.h"
#include "row_name.h"

namespace {

constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::size_t kChunk = 64 * 1024;  // what the server reads at a time

// Bytes made as they are read: `head`, then `count` times `fill`, then `tail`; so a 10 MB line
// is never held whole by the test either.
class MadeInput : public mcp::ByteInput {
public:
    MadeInput(std::string head, std::size_t count, char fill, std::string tail)
        : head_(std::move(head)), count_(count), fill_(fill), tail_(std::move(tail)) {}
    std::size_t Read(char* buffer, std::size_t size) override {
        const std::size_t total = head_.size() + count_ + tail_.size();
        std::size_t n = 0;
        for (; n < size && at_ < total; ++n, ++at_) {
            if (at_ < head_.size())
                buffer[n] = head_[at_];
            else if (at_ < head_.size() + count_)
                buffer[n] = fill_;
            else
                buffer[n] = tail_[at_ - head_.size() - count_];
        }
        return n;
    }

private:
    const std::string head_;
    const std::size_t count_;
    const char fill_;
    const std::string tail_;
    std::size_t at_ = 0;
};

const std::string kPing = R"({"jsonrpc":"2.0","id":2,"method":"ping"})";

// The messages after initialize for: initialize, the made line, then a ping with id 2.
struct Served {
    std::vector<nlohmann::json> messages;
    std::size_t peak_held;
};

Served Serve(const std::string& head, std::size_t count, char fill, const std::string& tail) {
    mcp_test::FakeHost host;
    MadeInput input(mcp_test::InitializeLine() + "\n" + head, count, fill,
                    tail + "\n" + kPing + "\n");
    mcp_test::FakeOutput output;
    mcp_test::FakeDiagnostics diagnostics;
    mcp::StdioServer server(host, input, output, diagnostics, mcp_test::TestOptions());
    EXPECT_EQ(server.Run(), 0);
    auto messages = output.Messages();
    messages.erase(messages.begin());
    return {messages, server.PeakHeldBytes()};
}

// Expects one answer to the bad line (a result when `code` is 0), and the ping's.
void ExpectAnswers(const std::vector<nlohmann::json>& messages, int code, const char* part) {
    ASSERT_EQ(messages.size(), 2u);
    // A tool call is answered from its own thread, maybe after the ping.
    const bool ping_first = messages[0].value("id", nlohmann::json()) == 2;
    const auto& answer = messages[ping_first ? 1 : 0];
    const auto& ping = messages[ping_first ? 0 : 1];
    if (code == 0) {
        EXPECT_EQ(answer["id"], 1) << answer.dump();
        EXPECT_TRUE(answer.contains("result")) << answer.dump();
    } else {
        EXPECT_FALSE(ping_first);
        EXPECT_EQ(answer["id"], nullptr) << answer.dump();
        EXPECT_EQ(answer["error"]["code"], code) << answer.dump();
        EXPECT_NE(answer.dump().find(part), std::string::npos) << answer.dump();
    }
    EXPECT_EQ(ping["id"], 2);
    EXPECT_TRUE(ping.contains("result"));
}

struct LengthRow {
    const char* name;
    std::size_t length;  // of the line, without its "\n"
    bool crlf;           // a "\r" ends the line too (not counted)
    int code;            // 0: served
};

std::ostream& operator<<(std::ostream& out, const LengthRow& row) {
    return out << row.name;
}

class McpLineLengthTest : public testing::TestWithParam<LengthRow> {};

TEST_P(McpLineLengthTest, LongLineIsSkippedWithoutBeingHeld) {
    const LengthRow& row = GetParam();
    // A ping padded to the length: {"jsonrpc":"2.0","id":1,"method":"ping","params":{"p":"xx..."}}
    const std::string head = R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{"p":")";
    const std::string tail = std::string(R"("}})") + (row.crlf ? "\r" : "");
    const auto served = Serve(head, row.length - head.size() - 3, 'x', tail);
    ExpectAnswers(served.messages, row.code, "longer than 1048576 bytes");
    // At most the longest line taken (and a "\r"), and one chunk read.
    EXPECT_LE(served.peak_held, kMiB + 1 + kChunk);
}

INSTANTIATE_TEST_SUITE_P(Mcp, McpLineLengthTest,
                         testing::Values(LengthRow{"one MiB", kMiB, false, 0},
                                         LengthRow{"one MiB and CRLF", kMiB, true, 0},
                                         LengthRow{"one byte more", kMiB + 1, false, -32600},
                                         LengthRow{"one byte more and CRLF", kMiB + 1, true,
                                                   -32600},
                                         LengthRow{"ten MB", 10'000'000, false, -32600}),
                         RowName());

struct DepthRow {
    const char* name;
    std::string head;  // repeated `count` times, then `tail`
    std::size_t count;
    std::string tail;
    int code;  // 0: served
};

std::ostream& operator<<(std::ostream& out, const DepthRow& row) {
    return out << row.name;
}

// An echo call whose arguments hold `arrays` arrays one in another: nesting 3 + arrays deep.
DepthRow Nested(const char* name, std::size_t arrays, int code) {
    std::string tail = std::string(arrays, ']') + "}}}";
    return {
        name,
        R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"echo","arguments":{"v":)",
        arrays, tail, code};
}

class McpDepthTest : public testing::TestWithParam<DepthRow> {};

TEST_P(McpDepthTest, DeepNestingIsRefusedBeforeParsing) {
    const DepthRow& row = GetParam();
    // The head once, then `count` brackets.
    const auto served = Serve(row.head, row.count, '[', row.tail);
    ExpectAnswers(served.messages, row.code, "nest deeper than 64");
}

INSTANTIATE_TEST_SUITE_P(
    Mcp, McpDepthTest,
    testing::Values(Nested("depth 64", 61, 0), Nested("depth 65", 62, -32600),
                    Nested("depth 100000", 99'997, -32600),
                    DepthRow{"a million open brackets", "", 1'000'000, "", -32600},
                    DepthRow{"brackets in a string do not count",
                             R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{"s":")", 100'000,
                             R"("}})", 0}),
    RowName());

struct Utf8Row {
    const char* name;
    std::string bytes;  // inside a string of the echo call's arguments
    int code;           // 0: served
};

std::ostream& operator<<(std::ostream& out, const Utf8Row& row) {
    return out << row.name;
}

class McpUtf8Test : public testing::TestWithParam<Utf8Row> {};

TEST_P(McpUtf8Test, TextThatIsNotUtf8IsAParseError) {
    const Utf8Row& row = GetParam();
    const std::string head =
        R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"echo","arguments":{"t":")" +
        row.bytes;
    const auto served = Serve(head, 0, ' ', R"("}}})");
    ExpectAnswers(served.messages, row.code, "not valid UTF-8");
    if (row.code == 0) {  // the text comes back byte for byte
        for (const auto& message : served.messages) {
            if (message["id"] != 1) continue;
            EXPECT_EQ(message["result"]["content"][0]["text"], R"({"t":")" + row.bytes + "\"}");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Mcp, McpUtf8Test,
    testing::Values(Utf8Row{"two bytes", "\xC3\xA9", 0},
                    Utf8Row{"three bytes", "\xE4\xB8\xAD\xE6\x96\x87", 0},
                    Utf8Row{"four bytes", "\xF0\x9F\x98\x80", 0},
                    Utf8Row{"highest code point", "\xF4\x8F\xBF\xBF", 0},
                    Utf8Row{"lone continuation byte", "\x80", -32700},
                    Utf8Row{"overlong two bytes", "\xC0\xAF", -32700},
                    Utf8Row{"overlong three bytes", "\xE0\x80\xAF", -32700},
                    Utf8Row{"surrogate", "\xED\xA0\x80", -32700},
                    Utf8Row{"past the highest code point", "\xF4\x90\x80\x80", -32700},
                    Utf8Row{"cut short", "\xE4\xB8", -32700}, Utf8Row{"byte FF", "\xFF", -32700},
                    Utf8Row{"GBK text", "\xD6\xD0\xCE\xC4", -32700}),
    RowName());

}  // namespace
