// The front door of `MEmuFarm serve`: which door a request knocks on and whether it may come
// in. Every request goes through DecideDoor before its body is read; the HTTP side only
// carries out the answer.
//
// The checks, in order, so that nothing is learnt without the token but /healthz's liveness:
//   1. a header block over 16 KiB: 431 (nothing of it is read);
//   2. a repeated Host, Origin, Authorization, Cookie, Content-Type, Content-Length,
//      Transfer-Encoding or MCP-Protocol-Version, or a target that is no path: 400;
//   3. the Host rule, then the Origin rule: 403 (a page of another site never gets further);
//   4. /healthz, which needs no token: GET goes on, any other method 405;
//   5. the token (Bearer, ?token= on the page, or a session cookie): 401; a write that only a
//      cookie vouches for needs an Origin and the session's CSRF token: 403;
//   6. the path: 404; the method: 405, with the ones the path takes;
//   7. the size: a body over the door's limit (1 MiB, none for GET and DELETE), or a
//      Content-Length that is no number: 413 or 400;
//   8. a POST body that is not application/json: 415; an MCP-Protocol-Version this server
//      does not take over HTTP: 400.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serve/headers.h"
#include "serve/host_check.h"

namespace serve {

constexpr std::size_t kMostHeaderBytes = 16 * 1024;
constexpr std::uint64_t kMostBodyBytes = 1024 * 1024;

enum class Door {
    kHealth,     // GET /healthz: liveness, no token, no farm data
    kRun,        // POST /api/run: one console command
    kMcpPost,    // POST /mcp: a message to the MCP server
    kMcpStream,  // GET /mcp: the server's stream (not served yet: 405)
    kMcpEnd,     // DELETE /mcp: ends an MCP session
    kPage,       // GET /: the page
    kPageFile,   // GET /page.css, /page.js: the page's own files
    kPageState,  // GET /api/page/state: the page's state document
    kPageImage,  // GET /api/page/image: a VM's thumbnail or full-size screen
};

struct DoorRow {
    Door door;
    const char* method;
    const char* path;
    const char* name;  // in the log
    bool needs_token = true;
    std::uint64_t most_body_bytes = 0;  // a JSON body up to this size; 0: no body
    bool served = true;                 // false: routed, answered 405 for now
};

const std::vector<DoorRow>& DoorRows();
const DoorRow& RowOf(Door door);

// One request as the HTTP side read its head.
struct RequestHead {
    std::string method;
    std::string target;  // the path with its query: "/api/run", "/?token=..."
    Headers headers;
    std::size_t header_bytes = 0;  // the size of the header block as received
    // The body's size as far as it is known before reading it: its Content-Length, or for a
    // chunked body what has come so far (the HTTP side asks again as it reads).
    std::uint64_t body_bytes = 0;
};

struct DoorSettings {
    HostRule hosts;
    std::string token;
    // Sessions (the page's cookie): the cookie's name, and whether a value names a live
    // session. No lookup: no cookie lets anyone in.
    std::string session_cookie = "memufarm_session";
    std::function<bool(std::string_view session)> session_valid;
    // Whether a CSRF token is the one of that session. No check: no write by cookie alone.
    std::function<bool(std::string_view session, std::string_view csrf)> csrf_valid;
};

// What let a request in.
enum class Admitted { kNone, kBearer, kQueryToken, kSession };

struct DoorDecision {
    bool go_on = false;
    std::optional<Door> door;  // when go_on, or when the path was known
    int status = 0;            // the refusal's status; 0 when go_on
    std::string reason;        // the refusal's reason, for the answer and the log: no secret
    std::string allow;         // 405: the methods the path takes, "POST, DELETE"
    Admitted by = Admitted::kNone;
    std::string session;  // the session cookie's value, when a session let it in
};

DoorDecision DecideDoor(const RequestHead& request, const DoorSettings& settings);

// %XX written as its byte, once; '+' stays '+'.
std::string PercentDecoded(std::string_view text);

// The value of `name` in the target's query, percent-decoded; nothing when absent.
std::optional<std::string> QueryValue(std::string_view target, std::string_view name);

}  // namespace serve
