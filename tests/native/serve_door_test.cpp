// The front door as one table: each door crossed with the token, Origin, Host, method, content
// type and size, each row with its status; then the order of the checks (nothing is learnt
// without the token but /healthz's liveness) and the limits at their boundaries.
#include "serve/door.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "row_name.h"

namespace {

using serve::Door;
using serve::DoorDecision;
using serve::RequestHead;

const std::string kToken = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
constexpr std::uint64_t kMiB = 1024 * 1024;

serve::DoorSettings Settings() {
    serve::DoorSettings settings;
    settings.hosts.listen = {"127.0.0.1", 8080};
    settings.hosts.allow_hosts = {"farm.lan"};
    settings.token = kToken;
    return settings;
}

// --- Each door crossed with every way in ------------------------------------------------------

enum Way {
    kGoodTokenNoOrigin,
    kNoToken,
    kWrongToken,
    kGoodOrigin,
    kBadOrigin,
    kBadHost,
    kWrongMethod,
    kWrongContentType,
    kOversizedBody,
    kWays
};
constexpr const char* kWayNames[kWays] = {"good_token_no_origin", "no_token",   "wrong_token",
                                          "good_origin",          "bad_origin", "bad_host",
                                          "wrong_method",         "wrong_type", "oversized_body"};

struct DoorColumn {
    const char* name;
    const char* method;
    const char* target;
    const char* wrong_method;
    bool posts;                       // sends a JSON body
    std::array<int, kWays> statuses;  // 0: goes on to the door
};

const DoorColumn kColumns[] = {
    {"healthz", "GET", "/healthz", "POST", false, {0, 0, 0, 0, 403, 403, 405, 0, 413}},
    {"run", "POST", "/api/run", "GET", true, {0, 401, 401, 0, 403, 403, 405, 415, 413}},
    {"mcp_post", "POST", "/mcp", "PUT", true, {0, 401, 401, 0, 403, 403, 405, 415, 413}},
    {"mcp_get", "GET", "/mcp", "PUT", false, {405, 401, 401, 405, 403, 403, 405, 405, 413}},
    {"mcp_delete", "DELETE", "/mcp", "PUT", false, {0, 401, 401, 0, 403, 403, 405, 0, 413}},
    {"page", "GET", "/", "POST", false, {0, 401, 401, 0, 403, 403, 405, 0, 413}},
};

struct CrossRow {
    std::string name;
    RequestHead request;
    int status;
    Door door;
};

std::vector<CrossRow> CrossRows() {
    const Door doors[] = {Door::kHealth,    Door::kRun,    Door::kMcpPost,
                          Door::kMcpStream, Door::kMcpEnd, Door::kPage};
    std::vector<CrossRow> rows;
    for (std::size_t d = 0; d < std::size(kColumns); ++d) {
        const DoorColumn& column = kColumns[d];
        for (int way = 0; way < kWays; ++way) {
            RequestHead request;
            request.method = column.method;
            request.target = column.target;
            request.header_bytes = 300;
            std::string host = "127.0.0.1:8080";
            std::string authorization = "Bearer " + kToken;
            std::string content_type = "application/json";
            std::uint64_t body = column.posts ? 20 : 0;
            switch (way) {
                case kNoToken:
                    authorization.clear();
                    break;
                case kWrongToken:
                    authorization = std::string("Bearer ") + std::string(64, 'f');
                    break;
                case kGoodOrigin:
                    request.headers.Add("Origin", "http://127.0.0.1:8080");
                    break;
                case kBadOrigin:
                    request.headers.Add("Origin", "http://evil.example:8080");
                    break;
                case kBadHost:
                    host = "evil.example:8080";
                    break;
                case kWrongMethod:
                    request.method = column.wrong_method;
                    break;
                case kWrongContentType:
                    content_type = "text/plain";
                    break;
                case kOversizedBody:
                    body = column.posts ? kMiB + 1 : 1;
                    break;
                default:
                    break;
            }
            request.headers.Add("Host", host);
            if (!authorization.empty()) request.headers.Add("Authorization", authorization);
            if (column.posts || way == kWrongContentType)
                request.headers.Add("Content-Type", content_type);
            if (body > 0) request.headers.Add("Content-Length", std::to_string(body));
            request.body_bytes = body;
            rows.push_back({std::string(column.name) + "_" + kWayNames[way], std::move(request),
                            column.statuses[way], doors[d]});
        }
    }
    return rows;
}

class ServeDoorCross : public testing::TestWithParam<CrossRow> {};

TEST_P(ServeDoorCross, AnswersEachWayIn) {
    const CrossRow& row = GetParam();
    const DoorDecision decision = serve::DecideDoor(row.request, Settings());
    EXPECT_EQ(decision.status, row.status) << decision.reason;
    EXPECT_EQ(decision.go_on, row.status == 0) << decision.reason;
    if (decision.go_on) {
        EXPECT_EQ(decision.door, row.door);
    } else {
        EXPECT_FALSE(decision.reason.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(ServeDoorCrossRows, ServeDoorCross, testing::ValuesIn(CrossRows()),
                         RowName());

// --- The order of the checks and the limits at their boundaries --------------------------------

struct OrderRow {
    const char* name;
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;
    std::size_t header_bytes;
    std::uint64_t body_bytes;
    int status;
    const char* reason;  // a part of the refusal's reason; null: not looked at
};

const std::string kBearer = "Bearer " + kToken;
const std::pair<std::string, std::string> kHost = {"Host", "127.0.0.1:8080"};
const std::pair<std::string, std::string> kAuth = {"Authorization", kBearer};
const std::pair<std::string, std::string> kJson = {"Content-Type", "application/json"};

class ServeDoorOrder : public testing::TestWithParam<OrderRow> {};

TEST_P(ServeDoorOrder, DecidesInOrder) {
    const OrderRow& row = GetParam();
    RequestHead request;
    request.method = row.method;
    request.target = row.target;
    for (const auto& [name, value] : row.headers) request.headers.Add(name, value);
    request.header_bytes = row.header_bytes;
    request.body_bytes = row.body_bytes;
    const DoorDecision decision = serve::DecideDoor(request, Settings());
    EXPECT_EQ(decision.status, row.status) << decision.reason;
    if (row.reason) ExpectReason(decision.reason, row.reason);
}

INSTANTIATE_TEST_SUITE_P(
    ServeDoorOrderRows, ServeDoorOrder,
    testing::Values(
        // The header block: refused before anything of it is read.
        OrderRow{"headers_at_limit", "GET", "/", {kHost, kAuth}, 16384, 0, 0, nullptr},
        OrderRow{"headers_over_limit_no_token", "GET", "/", {}, 16385, 0, 431, "16384"},
        OrderRow{"repeated_host", "GET", "/", {kHost, kHost, kAuth}, 100, 0, 400, "Host"},
        OrderRow{"repeated_authorization",
                 "GET",
                 "/",
                 {kHost, kAuth, {"authorization", "Bearer x"}},
                 100,
                 0,
                 400,
                 "Authorization"},
        OrderRow{"target_not_a_path",
                 "GET",
                 "http://127.0.0.1:8080/",
                 {kHost, kAuth},
                 100,
                 0,
                 400,
                 "target"},
        OrderRow{"target_asterisk", "OPTIONS", "*", {kHost, kAuth}, 100, 0, 400, "target"},
        // Host and Origin come before the token and the path: a page of another site learns
        // nothing, not even whether its path exists.
        OrderRow{"no_host", "GET", "/", {kAuth}, 100, 0, 403, "no Host"},
        OrderRow{
            "host_without_port", "GET", "/", {{"Host", "127.0.0.1"}, kAuth}, 100, 0, 403, nullptr},
        OrderRow{"bad_host_unknown_path_no_token",
                 "GET",
                 "/secret",
                 {{"Host", "evil:8080"}},
                 100,
                 0,
                 403,
                 "Host"},
        OrderRow{"bad_origin_no_token",
                 "POST",
                 "/api/run",
                 {kHost, {"Origin", "http://evil:8080"}},
                 100,
                 0,
                 403,
                 "Origin"},
        OrderRow{
            "bad_host_healthz", "GET", "/healthz", {{"Host", "evil:8080"}}, 100, 0, 403, "Host"},
        // Without the token: 401 whatever the path, method or size.
        OrderRow{"unknown_path_no_token", "GET", "/secret", {kHost}, 100, 0, 401, "token"},
        OrderRow{"unknown_path_token", "GET", "/secret", {kHost, kAuth}, 100, 0, 404, nullptr},
        OrderRow{"near_path_token",
                 "POST",
                 "/api/run/",
                 {kHost, kAuth, kJson},
                 100,
                 2,
                 404,
                 "no such path"},
        OrderRow{"wrong_method_no_token", "GET", "/api/run", {kHost}, 100, 0, 401, "token"},
        OrderRow{"oversized_no_token",
                 "POST",
                 "/api/run",
                 {kHost, kJson, {"Content-Length", "99999999"}},
                 100,
                 99999999,
                 401,
                 "token"},
        OrderRow{"healthz_query", "GET", "/healthz?verbose=1", {kHost}, 100, 0, 0, nullptr},
        OrderRow{"healthz_head", "HEAD", "/healthz", {kHost}, 100, 0, 405, "GET"},
        // The token's forms.
        OrderRow{"bearer_lower_case",
                 "GET",
                 "/",
                 {kHost, {"Authorization", "bearer " + kToken}},
                 100,
                 0,
                 0,
                 nullptr},
        OrderRow{"bearer_two_blanks",
                 "GET",
                 "/",
                 {kHost, {"Authorization", "Bearer  " + kToken}},
                 100,
                 0,
                 0,
                 nullptr},
        OrderRow{"basic_scheme",
                 "GET",
                 "/",
                 {kHost, {"Authorization", "Basic " + kToken}},
                 100,
                 0,
                 401,
                 "wrong"},
        OrderRow{"bearer_no_blank",
                 "GET",
                 "/",
                 {kHost, {"Authorization", "Bearer" + kToken}},
                 100,
                 0,
                 401,
                 "wrong"},
        OrderRow{"token_one_short",
                 "GET",
                 "/",
                 {kHost, {"Authorization", std::string("Bearer ") + kToken.substr(1)}},
                 100,
                 0,
                 401,
                 "wrong"},
        OrderRow{"token_one_long",
                 "GET",
                 "/",
                 {kHost, {"Authorization", "Bearer " + kToken + "0"}},
                 100,
                 0,
                 401,
                 "wrong"},
        OrderRow{"query_token_page", "GET", "/?token=" + kToken, {kHost}, 100, 0, 0, nullptr},
        OrderRow{"query_token_api",
                 "POST",
                 "/api/run?token=" + kToken,
                 {kHost, kJson},
                 100,
                 2,
                 401,
                 "token"},
        OrderRow{"query_wrong_token_page", "GET", "/?token=abc", {kHost}, 100, 0, 401, "token"},
        // The size: the body limit at its boundary, a length that is no number.
        OrderRow{"body_at_limit",
                 "POST",
                 "/api/run",
                 {kHost, kAuth, kJson, {"Content-Length", "1048576"}},
                 100,
                 1048576,
                 0,
                 nullptr},
        OrderRow{"body_over_limit_by_length",
                 "POST",
                 "/api/run",
                 {kHost, kAuth, kJson, {"Content-Length", "1048577"}},
                 100,
                 0,
                 413,
                 "1048576"},
        OrderRow{"chunked_body_over_limit",
                 "POST",
                 "/api/run",
                 {kHost, kAuth, kJson},
                 100,
                 1048577,
                 413,
                 "1048576"},
        OrderRow{"length_not_a_number",
                 "POST",
                 "/api/run",
                 {kHost, kAuth, kJson, {"Content-Length", "12a"}},
                 100,
                 0,
                 400,
                 "Content-Length"},
        OrderRow{"length_huge",
                 "POST",
                 "/api/run",
                 {kHost, kAuth, kJson, {"Content-Length", "99999999999999999999999"}},
                 100,
                 0,
                 400,
                 "Content-Length"},
        OrderRow{"oversized_wrong_type",
                 "POST",
                 "/api/run",
                 {kHost, kAuth, {"Content-Type", "text/plain"}},
                 100,
                 2 * 1048576,
                 413,
                 nullptr},
        // The content type.
        OrderRow{"json_with_charset",
                 "POST",
                 "/api/run",
                 {kHost, kAuth, {"Content-Type", "application/json; charset=utf-8"}},
                 100,
                 2,
                 0,
                 nullptr},
        OrderRow{"json_upper_case",
                 "POST",
                 "/api/run",
                 {kHost, kAuth, {"Content-Type", "Application/JSON"}},
                 100,
                 2,
                 0,
                 nullptr},
        OrderRow{"json_longer_name",
                 "POST",
                 "/api/run",
                 {kHost, kAuth, {"Content-Type", "application/jsonp"}},
                 100,
                 2,
                 415,
                 "json"},
        OrderRow{"no_content_type", "POST", "/api/run", {kHost, kAuth}, 100, 2, 415, "json"},
        OrderRow{"form_content_type",
                 "POST",
                 "/api/run",
                 {kHost, kAuth, {"Content-Type", "application/x-www-form-urlencoded"}},
                 100,
                 2,
                 415,
                 "json"},
        // MCP's protocol version, on the MCP doors only.
        OrderRow{"mcp_version_known",
                 "POST",
                 "/mcp",
                 {kHost, kAuth, kJson, {"MCP-Protocol-Version", "2025-06-18"}},
                 100,
                 2,
                 0,
                 nullptr},
        OrderRow{"mcp_version_first_http",
                 "POST",
                 "/mcp",
                 {kHost, kAuth, kJson, {"MCP-Protocol-Version", "2025-03-26"}},
                 100,
                 2,
                 0,
                 nullptr},
        OrderRow{"mcp_version_before_http",
                 "POST",
                 "/mcp",
                 {kHost, kAuth, kJson, {"MCP-Protocol-Version", "2024-11-05"}},
                 100,
                 2,
                 400,
                 "MCP-Protocol-Version"},
        OrderRow{"mcp_version_unknown",
                 "POST",
                 "/mcp",
                 {kHost, kAuth, kJson, {"MCP-Protocol-Version", "1999-01-01"}},
                 100,
                 2,
                 400,
                 "MCP-Protocol-Version"},
        OrderRow{"mcp_version_on_run",
                 "POST",
                 "/api/run",
                 {kHost, kAuth, kJson, {"MCP-Protocol-Version", "1999-01-01"}},
                 100,
                 2,
                 0,
                 nullptr}),
    RowName());

TEST(ServeDoor, SaysWhichMethodsAPathTakes) {
    RequestHead request;
    request.method = "GET";
    request.target = "/api/run";
    request.headers.Add("Host", "127.0.0.1:8080");
    request.headers.Add("Authorization", kBearer);
    EXPECT_EQ(serve::DecideDoor(request, Settings()).allow, "POST");
    request.target = "/mcp";
    request.method = "PUT";
    EXPECT_EQ(serve::DecideDoor(request, Settings()).allow, "POST, DELETE");
}

// --- The session cookie's hook ---------------------------------------------------------------

struct SessionRow {
    const char* name;
    const char* method;
    const char* target;
    const char* cookie;
    const char* origin;  // null: none
    const char* csrf;    // null: none
    int status;
};

class ServeDoorSession : public testing::TestWithParam<SessionRow> {};

TEST_P(ServeDoorSession, LetsALiveSessionIn) {
    const SessionRow& row = GetParam();
    std::vector<std::string> asked;
    serve::DoorSettings settings = Settings();
    settings.session_valid = [&](std::string_view session) {
        asked.emplace_back(session);
        return session == "live";
    };
    settings.csrf_valid = [](std::string_view session, std::string_view csrf) {
        return session == "live" && csrf == "good";
    };
    RequestHead request;
    request.method = row.method;
    request.target = row.target;
    request.headers.Add("Host", "127.0.0.1:8080");
    request.headers.Add("Cookie", row.cookie);
    if (row.origin) request.headers.Add("Origin", row.origin);
    if (row.csrf) request.headers.Add("X-CSRF-Token", row.csrf);
    if (std::string(row.method) == "POST") {
        request.headers.Add("Content-Type", "application/json");
        request.body_bytes = 2;
    }
    EXPECT_EQ(serve::DecideDoor(request, settings).status, row.status);
    // The lookup is given the cookie's value, once (a page of another site never gets to it).
    ASSERT_EQ(asked.size(),
              row.origin && std::string(row.origin) == "http://evil.example" ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    ServeDoorSessionRows, ServeDoorSession,
    testing::Values(
        SessionRow{"page_live", "GET", "/", "memufarm_session=live", nullptr, nullptr, 0},
        SessionRow{"page_among_others", "GET", "/", "a=b; memufarm_session=live; c=d", nullptr,
                   nullptr, 0},
        SessionRow{"page_ended", "GET", "/", "memufarm_session=gone", nullptr, nullptr, 401},
        SessionRow{"state_live", "GET", "/api/page/state", "memufarm_session=live", nullptr,
                   nullptr, 0},
        SessionRow{"image_ended", "GET", "/api/page/image", "memufarm_session=gone", nullptr,
                   nullptr, 401},
        SessionRow{"run_with_origin_and_csrf", "POST", "/api/run", "memufarm_session=live",
                   "http://127.0.0.1:8080", "good", 0},
        SessionRow{"run_with_origin_no_csrf", "POST", "/api/run", "memufarm_session=live",
                   "http://127.0.0.1:8080", nullptr, 403},
        SessionRow{"run_with_wrong_csrf", "POST", "/api/run", "memufarm_session=live",
                   "http://127.0.0.1:8080", "goodx", 403},
        SessionRow{"run_with_empty_csrf", "POST", "/api/run", "memufarm_session=live",
                   "http://127.0.0.1:8080", "", 403},
        SessionRow{"run_ended_session_good_csrf", "POST", "/api/run", "memufarm_session=gone",
                   "http://127.0.0.1:8080", "good", 401},
        SessionRow{"run_other_site_with_csrf", "POST", "/api/run", "memufarm_session=live",
                   "http://evil.example", "good", 403},
        SessionRow{"run_without_origin", "POST", "/api/run", "memufarm_session=live", nullptr,
                   "good", 403}),
    RowName());

TEST(ServeDoor, NoSessionLookupLetsNoCookieIn) {
    RequestHead request;
    request.method = "GET";
    request.target = "/";
    request.headers.Add("Host", "127.0.0.1:8080");
    request.headers.Add("Cookie", "memufarm_session=anything");
    EXPECT_EQ(serve::DecideDoor(request, Settings()).status, 401);
}

TEST(ServeDoor, AnEmptyServerTokenLetsNoOneIn) {
    serve::DoorSettings settings = Settings();
    settings.token.clear();
    RequestHead request;
    request.method = "GET";
    request.target = "/?token=";
    request.headers.Add("Host", "127.0.0.1:8080");
    request.headers.Add("Authorization", "Bearer ");
    EXPECT_EQ(serve::DecideDoor(request, settings).status, 401);
}

// Any bytes in every field: an answer, never a crash, and never "go on" without the token.
TEST(ServeDoor, AnswersAnyBytes) {
    std::mt19937 random(29);
    const auto junk = [&](std::size_t most) {
        std::string text(random() % (most + 1), '\0');
        for (char& c : text) c = static_cast<char>(random() % 256);
        return text;
    };
    const char* names[] = {"Host",         "Origin",         "Authorization",       "Cookie",
                           "Content-Type", "Content-Length", "MCP-Protocol-Version"};
    for (int i = 0; i < 5000; ++i) {
        RequestHead request;
        request.method = i % 3 ? junk(8) : "POST";
        request.target = i % 2 ? junk(64) : "/api/run?" + junk(32);
        for (const char* name : names)
            if (random() % 2) request.headers.Add(name, junk(80));
        request.header_bytes = random() % 20000;
        request.body_bytes = random();
        const DoorDecision decision = serve::DecideDoor(request, Settings());
        if (decision.go_on) {
            EXPECT_EQ(decision.door, Door::kHealth) << i;
        } else {
            EXPECT_GE(decision.status, 400) << i;
        }
    }
}

}  // namespace
