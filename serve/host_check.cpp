#include "serve/host_check.h"

#include "serve/headers.h"

namespace serve {
namespace {

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.';
}

bool IsIpv6Char(char c) {
    return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' ||
           c == '.';
}

// "1" to "65535", no sign, no leading zero.
std::optional<uint16_t> ParsePort(std::string_view text) {
    if (text.empty() || text.size() > 5 || text[0] == '0') return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value > 65535) return std::nullopt;
    return static_cast<uint16_t>(value);
}

std::string Shown(std::string_view text) {
    // A reason names what was sent only when it is short plain text.
    if (text.size() > 100) return "a long value";
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
            return "a value that is not plain text";
    return std::string("'").append(text).append("'");
}

}  // namespace

bool ListensEverywhere(const ListenAddress& listen) {
    return listen.host == "0.0.0.0" || listen.host == "::";
}

std::optional<Authority> ParseAuthority(std::string_view text) {
    Authority authority;
    std::string_view name;
    std::string_view rest;
    if (!text.empty() && text[0] == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        name = text.substr(1, close - 1);
        rest = text.substr(close + 1);
        if (name.empty()) return std::nullopt;
        for (char c : name)
            if (!IsIpv6Char(c)) return std::nullopt;
        authority.ipv6 = true;
    } else {
        const std::size_t colon = text.find(':');
        name = text.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
        if (name.empty()) return std::nullopt;
        for (char c : name)
            if (!IsNameChar(c)) return std::nullopt;
    }
    if (!rest.empty()) {
        if (rest[0] != ':') return std::nullopt;
        const std::optional<uint16_t> port = ParsePort(rest.substr(1));
        if (!port) return std::nullopt;
        authority.port = *port;
    }
    authority.name = LowerAscii(name);
    return authority;
}

std::optional<ListenAddress> ParseListen(std::string_view text) {
    const std::optional<Authority> authority = ParseAuthority(text);
    if (!authority || text.empty() || text.back() == ':') return std::nullopt;
    const std::size_t colon = text.rfind(':');
    const std::size_t bracket = text.rfind(']');
    if (colon == std::string_view::npos || (bracket != std::string_view::npos && colon < bracket))
        return std::nullopt;  // no port written
    ListenAddress listen;
    listen.port = authority->port;
    if (authority->ipv6) {
        listen.host = authority->name;
        return listen;
    }
    if (authority->name == "localhost") return listen;
    int parts = 0;
    std::size_t start = 0;
    const std::string& name = authority->name;
    for (;;) {
        const std::size_t dot = name.find('.', start);
        const std::string part = name.substr(start, dot - start);
        if (part.empty() || part.size() > 3 ||
            part.find_first_not_of("0123456789") != std::string::npos || std::stoi(part) > 255)
            return std::nullopt;
        ++parts;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    if (parts != 4) return std::nullopt;
    listen.host = name;
    return listen;
}

HostVerdict CheckHost(std::optional<std::string_view> host, const HostRule& rule) {
    if (!host) return {std::nullopt, "the request has no Host header"};
    const std::optional<Authority> authority = ParseAuthority(*host);
    const std::string shown = std::string("the Host header ").append(Shown(*host));
    if (!authority) return {std::nullopt, shown + " is no host:port"};
    const std::string refused = shown + " does not name this server";
    if (authority->port != rule.listen.port) return {std::nullopt, refused};

    const std::string& name = authority->name;
    const auto same_address = [&](const std::string& address) {
        const bool address_ipv6 = address.find(':') != std::string::npos;
        return address_ipv6 == authority->ipv6 && EqualsIgnoringCase(address, name);
    };
    bool known = same_address("127.0.0.1") || (!authority->ipv6 && name == "localhost");
    if (!ListensEverywhere(rule.listen)) known = known || same_address(rule.listen.host);
    for (const std::string& allowed : rule.allow_hosts)
        known = known || (!authority->ipv6 && EqualsIgnoringCase(allowed, name));
    if (ListensEverywhere(rule.listen))
        for (const std::string& address : rule.interface_addresses)
            known = known || same_address(address);
    if (!known) return {std::nullopt, refused};
    return {authority, ""};
}

std::optional<std::string> OriginProblem(std::optional<std::string_view> origin,
                                         const Authority& host) {
    if (!origin) return std::nullopt;
    constexpr std::string_view kScheme = "http://";
    const std::string refused =
        std::string("the Origin ").append(Shown(*origin)).append(" is not this server's page");
    if (origin->size() < kScheme.size() ||
        !EqualsIgnoringCase(origin->substr(0, kScheme.size()), kScheme))
        return refused;
    const std::optional<Authority> authority = ParseAuthority(origin->substr(kScheme.size()));
    if (!authority || authority->ipv6 != host.ipv6 || authority->name != host.name ||
        authority->port != host.port)
        return refused;
    return std::nullopt;
}

}  // namespace serve
