// The request log: one line per request that never holds the token, wherever a client put it,
// and the start line, the one place the token is shown.
#include "serve/request_log.h"

#include <gtest/gtest.h>

#include <string>

#include "row_name.h"

namespace {

const std::string kToken = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

serve::LogEntry Entry() {
    serve::LogEntry entry;
    entry.time = "2026-12-08T13:45:58Z";
    entry.peer = "127.0.0.1:53122";
    entry.method = "POST";
    entry.target = "/api/run";
    entry.door = serve::Door::kRun;
    entry.command = "start";
    entry.verdict = "ok";
    entry.status = 200;
    return entry;
}

TEST(ServeLog, WritesOneLineOfItsFields) {
    EXPECT_EQ(serve::LogLine(Entry(), kToken),
              "2026-12-08T13:45:58Z 127.0.0.1:53122 POST /api/run run start 200 ok");
    serve::LogEntry refused = Entry();
    refused.door.reset();
    refused.command.clear();
    refused.verdict = "the token is wrong";
    refused.status = 401;
    EXPECT_EQ(serve::LogLine(refused, kToken),
              "2026-12-08T13:45:58Z 127.0.0.1:53122 POST /api/run - - 401 the token is wrong");
}

struct SecretRow {
    const char* name;
    void (*place)(serve::LogEntry& entry);
};

class ServeLogSecret : public testing::TestWithParam<SecretRow> {};

TEST_P(ServeLogSecret, NeverHoldsTheToken) {
    serve::LogEntry entry = Entry();
    GetParam().place(entry);
    const std::string line = serve::LogLine(entry, kToken);
    EXPECT_EQ(line.find(kToken), std::string::npos) << line;
    // Not half of it either, in any case.
    EXPECT_EQ(line.find(kToken.substr(0, 16)), std::string::npos) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_EQ(line.find('\r'), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(
    ServeLogSecretRows, ServeLogSecret,
    testing::Values(
        SecretRow{"query", [](serve::LogEntry& e) { e.target = "/?token=" + kToken; }},
        SecretRow{"query_among_others",
                  [](serve::LogEntry& e) { e.target = "/?a=1&token=" + kToken + "&b=2"; }},
        SecretRow{"query_upper_case", [](serve::LogEntry& e) { e.target = "/?TOKEN=" + kToken; }},
        SecretRow{
            "query_cut_at_limit",
            [](serve::LogEntry& e) { e.target = "/" + std::string(250, 'x') + "?q=" + kToken; }},
        SecretRow{"path", [](serve::LogEntry& e) { e.target = "/api/" + kToken; }},
        SecretRow{"path_percent_encoded",
                  [](serve::LogEntry& e) {
                      e.target =
                          "/%30%31%32%33%34%35%36%37%38%39%61%62%63%64%65%66" + kToken.substr(16);
                  }},
        SecretRow{"command", [](serve::LogEntry& e) { e.command = kToken; }},
        SecretRow{"verdict", [](serve::LogEntry& e) { e.verdict = "refused " + kToken; }},
        SecretRow{"peer", [](serve::LogEntry& e) { e.peer = kToken; }},
        SecretRow{"line_break_forging_a_line",
                  [](serve::LogEntry& e) {
                      e.command = "start\r\n2026-12-08T13:45:59Z 10.0.0.1 GET / page - 200 ok";
                  }}),
    RowName());

// A field is cut after 256 bytes: one of 256 is kept whole, one of 257 loses its last byte.
TEST(ServeLog, CutsAFieldPastItsLength) {
    serve::LogEntry entry = Entry();
    entry.command = std::string(256, 'c');
    EXPECT_NE(serve::LogLine(entry, kToken).find(" " + std::string(256, 'c') + " 200"),
              std::string::npos);
    entry.command = std::string(257, 'c');
    EXPECT_NE(serve::LogLine(entry, kToken).find(" " + std::string(256, 'c') + "... 200"),
              std::string::npos);
}

TEST(ServeLog, KeepsTheQueryButTheToken) {
    EXPECT_EQ(serve::TargetWithoutToken("/?a=1&token=x&b=2"), "/?a=1&b=2");
    EXPECT_EQ(serve::TargetWithoutToken("/?token=x"), "/");
    EXPECT_EQ(serve::TargetWithoutToken("/?tokens=x"), "/?tokens=x");
    EXPECT_EQ(serve::TargetWithoutToken("/?token"), "/");
}

TEST(ServeLog, WritesBytesThatAreNoTextAsCodes) {
    serve::LogEntry entry = Entry();
    entry.command = "st\x1B[2Jart \xC4\xE3";
    EXPECT_EQ(serve::LogLine(entry, kToken),
              "2026-12-08T13:45:58Z 127.0.0.1:53122 POST /api/run run st\\x1B[2Jart\\x20\\xC4\\xE3 "
              "200 ok");
}

struct RoundRow {
    const char* name;
    int vms;
    double seconds;
    std::string problem;
    std::string line;
    bool listing = false;
};

class ServeRoundLine : public testing::TestWithParam<RoundRow> {};

// The page's health rounds in the same log: what a reader of the log (and the benchmark)
// times a round by.
TEST_P(ServeRoundLine, SaysTheRoundsTime) {
    const RoundRow& row = GetParam();
    serve::RoundEntry entry;
    entry.time = "2026-12-09T13:00:00Z";
    entry.vms = row.vms;
    entry.seconds = row.seconds;
    entry.problem = row.problem;
    entry.listing = row.listing;
    EXPECT_EQ(serve::RoundLine(entry, kToken), row.line);
}

INSTANTIATE_TEST_SUITE_P(
    ServeRoundLineRows, ServeRoundLine,
    testing::Values(
        RoundRow{"gave_tiles", 200, 1.2344, "",
                 "2026-12-09T13:00:00Z page health round: 200 VMs in 1.234 s"},
        RoundRow{"no_vm_at_once", 0, 0, "",
                 "2026-12-09T13:00:00Z page health round: 0 VMs in 0.000 s"},
        RoundRow{"a_clock_that_went_back_is_no_time", 3, -0.25, "",
                 "2026-12-09T13:00:00Z page health round: 3 VMs in 0.000 s"},
        RoundRow{"failed", 0, 0.5, "no emulator is installed",
                 "2026-12-09T13:00:00Z page health round failed after 0.500 s: no emulator is "
                 "installed"},
        RoundRow{"failed_with_a_line_break_and_the_token", 0, 2, "bad\r\nline " + kToken,
                 "2026-12-09T13:00:00Z page health round failed after 2.000 s: bad\\x0D\\x0Aline "
                 "[token]"},
        RoundRow{"a_visits_listing", 200, 2.5, "",
                 "2026-12-09T13:00:00Z page listing: 200 VMs in 2.500 s", true},
        RoundRow{"a_failed_listing", 0, 0.25, "no emulator is installed",
                 "2026-12-09T13:00:00Z page listing failed after 0.250 s: no emulator is installed",
                 true}),
    RowName());

struct StartRow {
    const char* name;
    const char* host;
    uint16_t port;
    std::string token;
    const char* line;
};

class ServeStartLine : public testing::TestWithParam<StartRow> {};

// The line's token, read back as the page's door reads it, is the token.
TEST_P(ServeStartLine, ShowsTheAddressWithTheToken) {
    const StartRow& row = GetParam();
    const std::string line = serve::StartLine({row.host, row.port}, row.token);
    EXPECT_EQ(line, row.line);
    EXPECT_EQ(serve::QueryValue(line.substr(line.find('/', 7)), "token"), row.token);
}

INSTANTIATE_TEST_SUITE_P(
    ServeStartLineRows, ServeStartLine,
    testing::Values(
        StartRow{"loopback", "127.0.0.1", 8080, kToken,
                 "http://127.0.0.1:8080/?token=0123456789abcdef0123456789abcdef0123456789abcdef"
                 "0123456789abcdef"},
        StartRow{"everywhere", "0.0.0.0", 80, "t", "http://127.0.0.1:80/?token=t"},
        StartRow{"ipv6", "::1", 9000, "t", "http://[::1]:9000/?token=t"},
        StartRow{"ipv6_everywhere", "::", 9000, "t", "http://[::1]:9000/?token=t"},
        StartRow{"interface", "192.168.1.5", 8080, "t", "http://192.168.1.5:8080/?token=t"},
        StartRow{"token_file_punctuation", "127.0.0.1", 8080, "a+b/c=&d%e#f",
                 "http://127.0.0.1:8080/?token=a%2Bb%2Fc%3D%26d%25e%23f"},
        // Each end of the unreserved ranges stays as it is; the bytes just past them do not.
        StartRow{"unreserved_ends", "127.0.0.1", 8080, "azAZ09-._~",
                 "http://127.0.0.1:8080/?token=azAZ09-._~"},
        StartRow{"just_past_the_ends", "127.0.0.1", 8080,
                 "`{@[/:", "http://127.0.0.1:8080/?token=%60%7B%40%5B%2F%3A"}),
    RowName());

}  // namespace
