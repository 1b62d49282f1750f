// The Host and Origin rules: the listening address, 127.0.0.1 and localhost, --allow-host
// names, and on 0.0.0.0 the PC's own interface addresses; always with the server's port.
#include "serve/host_check.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "row_name.h"

namespace {

struct HostRow {
    const char* name;
    const char* listen;
    const char* host;  // null: no Host header
    bool accepted;
};

serve::HostRule Rule(const char* listen) {
    serve::HostRule rule;
    rule.listen = {listen, 8080};
    rule.allow_hosts = {"Farm.LAN"};
    rule.interface_addresses = {"192.168.1.5", "fd00::5"};
    return rule;
}

class ServeHost : public testing::TestWithParam<HostRow> {};

TEST_P(ServeHost, AcceptsOnlyThisServersNames) {
    const HostRow& row = GetParam();
    const serve::HostVerdict verdict = serve::CheckHost(
        row.host ? std::optional<std::string_view>(row.host) : std::nullopt, Rule(row.listen));
    EXPECT_EQ(verdict.host.has_value(), row.accepted) << verdict.reason;
    if (!row.accepted) {
        EXPECT_FALSE(verdict.reason.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    ServeHostRows, ServeHost,
    testing::Values(HostRow{"loopback", "127.0.0.1", "127.0.0.1:8080", true},
                    HostRow{"localhost", "127.0.0.1", "localhost:8080", true},
                    HostRow{"localhost_upper_case", "127.0.0.1", "LocalHost:8080", true},
                    HostRow{"allowed_name", "127.0.0.1", "farm.lan:8080", true},
                    HostRow{"allowed_name_other_port", "127.0.0.1", "farm.lan:8081", false},
                    HostRow{"allowed_name_without_port", "127.0.0.1", "farm.lan", false},
                    HostRow{"allowed_name_longer", "127.0.0.1", "farm.lan.evil:8080", false},
                    HostRow{"allowed_name_trailing_dot", "127.0.0.1", "farm.lan.:8080", false},
                    HostRow{"other_port", "127.0.0.1", "127.0.0.1:8081", false},
                    HostRow{"port_leading_zero", "127.0.0.1", "127.0.0.1:08080", false},
                    HostRow{"port_empty", "127.0.0.1", "127.0.0.1:", false},
                    HostRow{"no_host", "127.0.0.1", nullptr, false},
                    HostRow{"empty_host", "127.0.0.1", "", false},
                    HostRow{"other_name", "127.0.0.1", "evil.example:8080", false},
                    HostRow{"user_info", "127.0.0.1", "a@127.0.0.1:8080", false},
                    HostRow{"listening_address", "192.168.1.5", "192.168.1.5:8080", true},
                    HostRow{"interface_not_listened_on", "127.0.0.1", "192.168.1.5:8080", false},
                    // --listen 0.0.0.0: the PC's own interface addresses, no other.
                    HostRow{"everywhere_interface", "0.0.0.0", "192.168.1.5:8080", true},
                    HostRow{"everywhere_other_address", "0.0.0.0", "192.168.1.6:8080", false},
                    HostRow{"everywhere_any_address", "0.0.0.0", "0.0.0.0:8080", false},
                    HostRow{"everywhere_loopback", "0.0.0.0", "127.0.0.1:8080", true},
                    HostRow{"everywhere_interface_other_port", "0.0.0.0", "192.168.1.5:80", false},
                    // IPv6: in brackets, on ::1 or on every interface (::).
                    HostRow{"ipv6_loopback", "::1", "[::1]:8080", true},
                    HostRow{"ipv6_loopback_no_brackets", "::1", "::1:8080", false},
                    HostRow{"ipv6_loopback_other_spelling", "::1", "[0:0:0:0:0:0:0:1]:8080", false},
                    HostRow{"ipv6_not_listened_on", "127.0.0.1", "[::1]:8080", false},
                    HostRow{"ipv6_everywhere_interface", "::", "[fd00::5]:8080", true},
                    HostRow{"ipv6_everywhere_other", "::", "[fd00::6]:8080", false},
                    HostRow{"ipv6_unclosed", "::1", "[::1:8080", false},
                    HostRow{"ipv4_in_brackets", "0.0.0.0", "[192.168.1.5]:8080", false}),
    RowName());

struct OriginRow {
    const char* name;
    const char* host;
    const char* origin;  // null: none
    bool passes;
};

class ServeOrigin : public testing::TestWithParam<OriginRow> {};

TEST_P(ServeOrigin, PassesOnlyThisPagesOrigin) {
    const OriginRow& row = GetParam();
    const std::optional<serve::Authority> host = serve::ParseAuthority(row.host);
    ASSERT_TRUE(host);
    const std::optional<std::string> problem = serve::OriginProblem(
        row.origin ? std::optional<std::string_view>(row.origin) : std::nullopt, *host);
    EXPECT_EQ(!problem, row.passes) << problem.value_or("");
}

INSTANTIATE_TEST_SUITE_P(
    ServeOriginRows, ServeOrigin,
    testing::Values(
        OriginRow{"none", "127.0.0.1:8080", nullptr, true},
        OriginRow{"same", "127.0.0.1:8080", "http://127.0.0.1:8080", true},
        OriginRow{"same_name_other_case", "localhost:8080", "http://LOCALHOST:8080", true},
        OriginRow{"other_port", "127.0.0.1:8080", "http://127.0.0.1:8081", false},
        OriginRow{"no_port", "127.0.0.1:8080", "http://127.0.0.1", false},
        OriginRow{"default_port_both", "127.0.0.1", "http://127.0.0.1", true},
        OriginRow{"other_loopback_name", "127.0.0.1:8080", "http://localhost:8080", false},
        OriginRow{"https", "127.0.0.1:8080", "https://127.0.0.1:8080", false},
        OriginRow{"null", "127.0.0.1:8080", "null", false},
        OriginRow{"empty", "127.0.0.1:8080", "", false},
        OriginRow{"with_path", "127.0.0.1:8080", "http://127.0.0.1:8080/", false},
        OriginRow{"other_site", "127.0.0.1:8080", "http://evil.example:8080", false},
        OriginRow{"ipv6", "[::1]:8080", "http://[::1]:8080", true}),
    RowName());

}  // namespace
