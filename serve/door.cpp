#include "serve/door.h"

#include <algorithm>

#include "mcp/protocol_version.h"
#include "serve/token.h"

namespace serve {
namespace {

const std::vector<DoorRow> kDoors = {
    {.door = Door::kHealth,
     .method = "GET",
     .path = "/healthz",
     .name = "healthz",
     .needs_token = false},
    {.door = Door::kRun,
     .method = "POST",
     .path = "/api/run",
     .name = "run",
     .most_body_bytes = kMostBodyBytes},
    {.door = Door::kMcpPost,
     .method = "POST",
     .path = "/mcp",
     .name = "mcp",
     .most_body_bytes = kMostBodyBytes},
    {.door = Door::kMcpStream,
     .method = "GET",
     .path = "/mcp",
     .name = "mcp-stream",
     .served = false},
    {.door = Door::kMcpEnd, .method = "DELETE", .path = "/mcp", .name = "mcp-end"},
    {.door = Door::kPage, .method = "GET", .path = "/", .name = "page"},
    {.door = Door::kPageFile, .method = "GET", .path = "/page.css", .name = "page-file"},
    {.door = Door::kPageFile, .method = "GET", .path = "/page.js", .name = "page-file"},
    {.door = Door::kPageState, .method = "GET", .path = "/api/page/state", .name = "page-state"},
    {.door = Door::kPageImage, .method = "GET", .path = "/api/page/image", .name = "page-image"},
};

// Header fields that must come once: two of them could be read differently by two readers.
constexpr const char* kSingleFields[] = {
    "Host",         "Origin",         "Authorization",     "Cookie",
    "Content-Type", "Content-Length", "Transfer-Encoding", "MCP-Protocol-Version",
    "X-CSRF-Token"};

DoorDecision Refuse(int status, std::string reason, std::optional<Door> door = std::nullopt) {
    DoorDecision decision;
    decision.status = status;
    decision.reason = std::move(reason);
    decision.door = door;
    return decision;
}

std::string_view PathOf(std::string_view target) {
    return target.substr(0, target.find('?'));
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string PercentDecoded(std::string_view text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            decoded += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

namespace {

std::optional<std::string_view> BearerToken(std::optional<std::string_view> authorization) {
    constexpr std::string_view kScheme = "Bearer";
    if (!authorization || authorization->size() <= kScheme.size() ||
        !EqualsIgnoringCase(authorization->substr(0, kScheme.size()), kScheme) ||
        (*authorization)[kScheme.size()] != ' ')
        return std::nullopt;
    std::string_view token = authorization->substr(kScheme.size());
    while (!token.empty() && token.front() == ' ') token.remove_prefix(1);
    return token;
}

std::optional<std::string_view> CookieValue(std::optional<std::string_view> cookies,
                                            std::string_view name) {
    if (!cookies || name.empty()) return std::nullopt;
    std::string_view rest = *cookies;
    while (!rest.empty()) {
        const std::size_t end = rest.find(';');
        std::string_view pair = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
        const std::size_t equals = pair.find('=');
        if (equals != std::string_view::npos && pair.substr(0, equals) == name)
            return pair.substr(equals + 1);
    }
    return std::nullopt;
}

// "application/json", "application/json; charset=utf-8"; the media type without regard to case.
bool IsJson(std::optional<std::string_view> content_type) {
    if (!content_type) return false;
    std::string_view type = content_type->substr(0, content_type->find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.remove_suffix(1);
    return EqualsIgnoringCase(type, "application/json");
}

// Plain decimal digits, at most 19 of them.
std::optional<std::uint64_t> ParseLength(std::string_view text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

std::string AllowedMethods(std::string_view path);

// The checks of a known door once the token (where it needs one) has passed: size, then type.
DoorDecision Admit(const DoorRow& row, const RequestHead& request) {
    std::uint64_t size = request.body_bytes;
    if (const auto length = request.headers.Find("Content-Length")) {
        const std::optional<std::uint64_t> value = ParseLength(*length);
        if (!value) return Refuse(400, "the Content-Length is no number", row.door);
        size = std::max(size, *value);
    }
    if (size > row.most_body_bytes)
        return Refuse(413,
                      row.most_body_bytes == 0
                          ? std::string(row.method) + " " + row.path + " takes no body"
                          : "the body is over " + std::to_string(row.most_body_bytes) + " bytes",
                      row.door);
    if (row.most_body_bytes > 0 && !IsJson(request.headers.Find("Content-Type")))
        return Refuse(415, "the body must be application/json", row.door);
    if (const auto version = request.headers.Find("MCP-Protocol-Version");
        version &&
        (row.door == Door::kMcpPost || row.door == Door::kMcpStream || row.door == Door::kMcpEnd)) {
        if (!mcp::IsHttpProtocolVersion(*version))
            return Refuse(400, "this server does not speak that MCP-Protocol-Version", row.door);
    }
    if (!row.served) {
        DoorDecision refused =
            Refuse(405, std::string(row.method) + " " + row.path + " is not served", row.door);
        refused.allow = AllowedMethods(row.path);
        return refused;
    }
    DoorDecision decision;
    decision.go_on = true;
    decision.door = row.door;
    return decision;
}

std::string AllowedMethods(std::string_view path) {
    std::string allow;
    for (const DoorRow& row : kDoors)
        if (row.path == path && row.served)
            allow += (allow.empty() ? "" : ", ") + std::string(row.method);
    return allow;
}

}  // namespace

const std::vector<DoorRow>& DoorRows() {
    return kDoors;
}

const DoorRow& RowOf(Door door) {
    for (const DoorRow& row : kDoors)
        if (row.door == door) return row;
    return kDoors.front();
}

std::optional<std::string> QueryValue(std::string_view target, std::string_view name) {
    const std::size_t question = target.find('?');
    if (question == std::string_view::npos) return std::nullopt;
    std::string_view rest = target.substr(question + 1);
    rest = rest.substr(0, rest.find('#'));
    while (!rest.empty()) {
        const std::size_t end = rest.find('&');
        const std::string_view pair = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        const std::size_t equals = pair.find('=');
        if (pair.substr(0, equals) == name)
            return PercentDecoded(equals == std::string_view::npos ? std::string_view()
                                                                   : pair.substr(equals + 1));
    }
    return std::nullopt;
}

DoorDecision DecideDoor(const RequestHead& request, const DoorSettings& settings) {
    if (request.header_bytes > kMostHeaderBytes)
        return Refuse(431,
                      "the header block is over " + std::to_string(kMostHeaderBytes) + " bytes");
    for (const char* field : kSingleFields)
        if (request.headers.Repeated(field))
            return Refuse(400, std::string("the request gives ") + field + " more than once");
    if (request.target.empty() || request.target[0] != '/')
        return Refuse(400, "the request target is not a path");

    const HostVerdict host = CheckHost(request.headers.Find("Host"), settings.hosts);
    if (!host.host) return Refuse(403, host.reason);
    const std::optional<std::string_view> origin = request.headers.Find("Origin");
    if (std::optional<std::string> problem = OriginProblem(origin, *host.host))
        return Refuse(403, *problem);

    const std::string_view path = PathOf(request.target);
    // The doors that need no token (/healthz), before the token.
    for (const DoorRow& open : kDoors) {
        if (open.needs_token || open.path != path) continue;
        if (request.method != open.method) {
            DoorDecision refused =
                Refuse(405, std::string(open.path) + " takes " + open.method, open.door);
            refused.allow = AllowedMethods(path);
            return refused;
        }
        return Admit(open, request);
    }

    // The token, before anything says whether the path or the method exists.
    bool by_token = false;
    Admitted by = Admitted::kNone;
    if (!settings.token.empty()) {
        if (const auto bearer = BearerToken(request.headers.Find("Authorization")))
            by_token = SameSecret(*bearer, settings.token);
        if (by_token) by = Admitted::kBearer;
        if (!by_token && path == "/" && request.method == "GET")
            if (const auto query = QueryValue(request.target, "token"))
                by_token = SameSecret(*query, settings.token);
        if (by_token && by == Admitted::kNone) by = Admitted::kQueryToken;
    }
    bool by_session = false;
    std::string session;
    if (!by_token && settings.session_valid)
        if (const auto cookie =
                CookieValue(request.headers.Find("Cookie"), settings.session_cookie)) {
            by_session = settings.session_valid(*cookie);
            if (by_session) {
                by = Admitted::kSession;
                session = std::string(*cookie);
            }
        }
    if (!by_token && !by_session) {
        const bool offered = request.headers.Find("Authorization").has_value();
        return Refuse(
            401, offered ? "the token is wrong" : "a token is needed: Authorization: Bearer TOKEN");
    }
    if (!by_token && !origin && request.method != "GET")
        return Refuse(403, "a request that only a session cookie vouches for must carry Origin");
    if (!by_token && request.method != "GET") {
        const auto csrf = request.headers.Find("X-CSRF-Token");
        if (!csrf || !settings.csrf_valid || !settings.csrf_valid(session, *csrf))
            return Refuse(403, csrf ? "the CSRF token is wrong"
                                    : "a request that only a session cookie vouches for must "
                                      "carry the page's X-CSRF-Token");
    }

    bool path_known = false;
    for (const DoorRow& row : kDoors) {
        if (row.path != path) continue;
        path_known = true;
        if (row.method != request.method) continue;
        DoorDecision decision = Admit(row, request);
        decision.by = by;
        decision.session = session;
        return decision;
    }
    if (!path_known) return Refuse(404, "no such path");
    DoorDecision refused = Refuse(405, std::string(path) + " does not take that method");
    refused.allow = AllowedMethods(path);
    return refused;
}

}  // namespace serve
