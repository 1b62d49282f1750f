#include "serve/request_log.h"

#include <cstdio>

namespace serve {
namespace {

constexpr std::size_t kLongestField = 256;
constexpr char kHex[] = "0123456789ABCDEF";

std::string Redacted(std::string_view text, std::string_view token) {
    std::string out;
    if (token.empty()) return std::string(text);
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t found = text.find(token, at);
        if (found == std::string_view::npos) break;
        out.append(text.substr(at, found - at));
        out += "[token]";
        at = found + token.size();
    }
    out.append(text.substr(std::min(at, text.size())));
    return out;
}

// Printable ASCII but the blank and the backslash as they are; everything else as \xNN.
std::string Escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte > 0x20 && byte < 0x7F && c != '\\') {
            out += c;
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

// The whole text redacted, then cut, then escaped.
std::string Field(std::string_view text, std::string_view token) {
    std::string redacted = Redacted(text, token);
    const bool cut = redacted.size() > kLongestField;
    if (cut) redacted.resize(kLongestField);
    std::string out = Escaped(redacted);
    if (cut) out += "...";
    return out.empty() ? "-" : out;
}

bool IsUnreserved(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string TargetWithoutToken(std::string_view target) {
    const std::size_t question = target.find('?');
    if (question == std::string_view::npos) return std::string(target);
    std::string out(target.substr(0, question));
    std::string_view rest = target.substr(question + 1);
    std::string kept;
    while (true) {
        const std::size_t end = rest.find('&');
        const std::string_view pair = rest.substr(0, end);
        const std::string_view name = pair.substr(0, pair.find('='));
        if (!EqualsIgnoringCase(name, "token")) {
            if (!kept.empty()) kept += '&';
            kept.append(pair);
        }
        if (end == std::string_view::npos) break;
        rest = rest.substr(end + 1);
    }
    if (!kept.empty()) out += "?" + kept;
    return out;
}

namespace {

// A verdict as written last on a line: redacted, cut, every byte but the blank escaped.
std::string Said(std::string_view text, std::string_view token) {
    std::string said = Redacted(text, token);
    if (said.size() > kLongestField) said.resize(kLongestField);
    std::string out;
    for (char c : said) out += c == ' ' ? std::string(1, ' ') : Escaped(std::string_view(&c, 1));
    return out.empty() ? "-" : out;
}

}  // namespace

std::string LogLine(const LogEntry& entry, std::string_view token) {
    const std::string fields[] = {
        Field(entry.time, token),
        Field(entry.peer, token),
        Field(entry.method, token),
        Field(PercentDecoded(TargetWithoutToken(entry.target)), token),
        entry.door ? RowOf(*entry.door).name : "-",
        Field(entry.command, token),
        std::to_string(entry.status),
    };
    std::string line;
    for (const std::string& field : fields) {
        line += field;
        line += ' ';
    }
    // The verdict last: it is the one field with blanks in it.
    return line + Said(entry.verdict, token);
}

std::string RoundLine(const RoundEntry& entry, std::string_view token) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f s", entry.seconds < 0 ? 0.0 : entry.seconds);
    std::string line =
        Field(entry.time, token) + (entry.listing ? " page listing" : " page health round");
    if (entry.problem.empty())
        return line + ": " + std::to_string(entry.vms) + " VMs in " + seconds;
    return line + " failed after " + seconds + ": " + Said(entry.problem, token);
}

std::string StartLine(const ListenAddress& listen, std::string_view token) {
    std::string host = listen.host;
    if (host == "0.0.0.0") host = "127.0.0.1";
    if (host == "::") host = "::1";
    if (host.find(':') != std::string::npos) host = std::string("[").append(host).append("]");
    std::string encoded;
    for (char c : token) {
        if (IsUnreserved(c)) {
            encoded += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return "http://" + host + ":" + std::to_string(listen.port) + "/?token=" + encoded;
}

}  // namespace serve
