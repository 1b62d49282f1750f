// Making a text safe to place in a "cmd.exe /c" command line: the interpreter must pass it on
// to the tool unchanged and act on none of it (no second command, no redirection, no variable
// expansion). Portable: the two facts that depend on the system (which environment variables
// are defined, whether delayed expansion is on) are passed in.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace cmdline {

// Where the text lands in the line. kBare: outside any double quotes of the line. kQuoted:
// between a pair of double quotes that the line itself puts around it.
enum class Placement { kBare, kQuoted };

struct ShellFacts {
    // True when an environment variable of that name is defined (cmd would expand %name%).
    std::function<bool(std::string_view name)> variable_defined;
    // True when cmd expands !name! (the DelayedExpansion setting of the command processor).
    bool delayed_expansion = false;
};

// The text as it must be written into the line, or nothing when it cannot be passed through
// unchanged; `why` then says which character stands in the way. Bare texts get a caret before
// each of & | < > ^ ( ) and ", which cmd removes again; quoted texts need none, but cannot hold
// a double quote. A %name% that names a defined variable, and ! while delayed expansion is on,
// are refused in both placements: cmd has no escape for them on a command line that works
// alike on every version. Steps over GBK two-byte characters.
std::optional<std::string> EscapeForCmd(std::string_view text, Placement placement,
                                        const ShellFacts& facts, std::string* why);

// One argument for a program that splits its command line by the C runtime's rules: unchanged
// when it holds no blank, tab or double quote and is not empty; otherwise in double quotes,
// with backslashes doubled where they precede a quote and quotes escaped.
std::string QuoteArgument(std::string_view text);

}  // namespace cmdline
