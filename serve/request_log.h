// What the server writes about each request, and the one line that shows the token.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "serve/door.h"

namespace serve {

struct LogEntry {
    std::string time;    // given by the caller, "2026-12-08T13:45:58Z": no clock here
    std::string peer;    // "127.0.0.1:53122"
    std::string method;  // as received
    std::string target;  // as received: its token= is taken out here, the rest percent-decoded
    std::optional<Door> door;
    std::string command;  // /api/run: argv[0]
    std::string verdict;  // "ok", the refusal's reason, or what came of the command
    int status = 0;
};

// The target without any token= in its query (whatever its value), for the log.
std::string TargetWithoutToken(std::string_view target);

// One line, no line end: time, peer, method and target, door, command, status, verdict.
// Every byte that is no printable ASCII is written as \xNN, so a request can neither break
// the line nor forge another; long fields are cut. `token` is never written: any occurrence
// of it, wherever a client put it, is written as [token].
std::string LogLine(const LogEntry& entry, std::string_view token);

// One health round of the farm page's loop, for the same log: when it ended, how many VMs it
// read and how long it took from its start until the page's state held it, or why it gave
// none (UTF-8).
struct RoundEntry {
    std::string time;  // given by the caller, as LogEntry's
    int vms = 0;
    double seconds = 0;
    std::string problem;   // empty: the round gave its tiles
    bool listing = false;  // the listing a page's visit begins with, not a health round
};

// "TIME page health round: 200 VMs in 1.234 s", or "TIME page health round failed after
// 0.500 s: WHY" (WHY escaped and cut as a request's verdict, `token` never written); "page
// listing" in place of "page health round" for a listing.
std::string RoundLine(const RoundEntry& entry, std::string_view token);

// The address the console shows at start, the one place the token is printed:
// http://127.0.0.1:PORT/?token=TOKEN (a server on every interface is shown at 127.0.0.1 or
// [::1]; the token percent-encoded where it needs to be).
std::string StartLine(const ListenAddress& listen, std::string_view token);

}  // namespace serve
