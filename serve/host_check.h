// The Host and Origin rules against DNS rebinding: a page of another site that got its name
// pointed at this PC still sends its own name as Host and its own origin as Origin, so both
// must name this server.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace serve {

// Where the server listens: an IPv4 address ("127.0.0.1", "192.168.1.5", "0.0.0.0" for every
// interface) or an IPv6 one without brackets ("::1", "::" for every interface).
struct ListenAddress {
    std::string host = "127.0.0.1";
    uint16_t port = 0;
};

bool ListensEverywhere(const ListenAddress& listen);

// --listen ADDR:PORT: an IPv4 address, [IPv6] or localhost (127.0.0.1), and a port from 1 to
// 65535, both written. Nothing for anything else (a name to look up, a missing port).
std::optional<ListenAddress> ParseListen(std::string_view text);

// What the Host rule accepts besides 127.0.0.1 and localhost.
struct HostRule {
    ListenAddress listen;
    std::vector<std::string> allow_hosts;  // --allow-host names, without a port
    // The PC's own interface addresses (IPv6 ones without brackets): read only when the
    // server listens on every interface.
    std::vector<std::string> interface_addresses;
};

// A Host value or an Origin's authority, split: the name (brackets taken off an IPv6
// literal, lower case) and the port (80 when none is written, as http:// means).
struct Authority {
    std::string name;
    bool ipv6 = false;
    uint16_t port = 80;
};

// Nothing for a value that is no host[:port]: an empty one, a port that is not 1 to 65535 in
// plain digits, a name with characters no host name or address has, an IPv6 literal without
// brackets.
std::optional<Authority> ParseAuthority(std::string_view text);

// The Host header's authority when the rule accepts it; the reason otherwise.
struct HostVerdict {
    std::optional<Authority> host;
    std::string reason;
};
HostVerdict CheckHost(std::optional<std::string_view> host, const HostRule& rule);

// Nothing when the Origin passes: absent, or http:// and exactly the checked Host's name and
// port. The reason otherwise ("null", https://, another name or port, a path after it).
std::optional<std::string> OriginProblem(std::optional<std::string_view> origin,
                                         const Authority& host);

}  // namespace serve
