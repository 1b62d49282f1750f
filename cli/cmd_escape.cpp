#include "cli/cmd_escape.h"

#include "text/gbk_text.h"

namespace cmdline {

namespace {

// Characters cmd acts on outside quotes; a caret in front makes each an ordinary character.
constexpr std::string_view kCaretEscaped = "&|<>^()\"";

// Variables cmd makes up itself rather than taking from the environment.
bool IsDynamicVariable(std::string_view name) {
    static constexpr std::string_view kNames[] = {
        "CD",         "DATE",          "TIME",       "RANDOM",
        "ERRORLEVEL", "CMDEXTVERSION", "CMDCMDLINE", "HIGHESTNUMANODENUMBER",
        "__CD__",     "__APPDIR__"};
    for (std::string_view known : kNames) {
        if (known.size() != name.size()) continue;
        bool same = true;
        for (size_t i = 0; i < name.size() && same; ++i) {
            const char c = name[i];
            same = (c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) == known[i];
        }
        if (same) return true;
    }
    return false;
}

// True when cmd would expand %name%: the name (before any ":~n,m" or ":a=b" edit) is a
// variable of the environment or one of cmd's own.
bool Expands(std::string_view name, const ShellFacts& facts) {
    name = name.substr(0, name.find(':'));
    if (name.empty()) return false;
    return IsDynamicVariable(name) || (facts.variable_defined && facts.variable_defined(name));
}

// The first %name% whose name is a defined variable, checked between every two consecutive
// percent signs (cmd leaves %name% of an undefined variable as it stands and goes on from the
// second sign).
std::optional<std::string> ExpandableVariable(std::string_view text, const ShellFacts& facts) {
    size_t open = text.find('%');
    while (open != std::string_view::npos) {
        const size_t close = text.find('%', open + 1);
        if (close == std::string_view::npos) break;
        const std::string_view name = text.substr(open + 1, close - open - 1);
        if (Expands(name, facts)) return std::string(text.substr(open, close - open + 1));
        open = close;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> EscapeForCmd(std::string_view text, Placement placement,
                                        const ShellFacts& facts, std::string* why) {
    auto refuse = [why](std::string reason) -> std::optional<std::string> {
        if (why) *why = std::move(reason);
        return std::nullopt;
    };
    if (std::optional<std::string> variable = ExpandableVariable(text, facts))
        return refuse("cmd.exe would replace " + *variable + " by the variable's value");
    if (facts.delayed_expansion && text.find('!') != std::string_view::npos)
        return refuse("cmd.exe expands ! on this system (delayed expansion is on)");

    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (size_t i = 0; i < text.size();) {
        const size_t width = gbk::CharWidth(text, i);
        const char c = text[i];
        if (width == 1 && placement == Placement::kQuoted && c == '"')
            return refuse("a double quote would end the quoted text early");
        if (width == 1 && placement == Placement::kBare &&
            kCaretEscaped.find(c) != std::string_view::npos)
            out += '^';
        out.append(text.substr(i, width));
        i += width;
    }
    return out;
}

std::string QuoteArgument(std::string_view text) {
    if (!text.empty() && text.find_first_of(" \t\"") == std::string_view::npos)
        return std::string(text);
    std::string out = "\"";
    size_t backslashes = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t width = gbk::CharWidth(text, i);
        if (width == 1 && text[i] == '\\') {
            ++backslashes;
            ++i;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote itself escaped. (A trail byte
        // equal to a backslash belongs to its character and counts for nothing.)
        out.append(width == 1 && text[i] == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out.append(text.substr(i, width));
        i += width;
    }
    // Before the closing quote, every backslash is doubled.
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

}  // namespace cmdline
