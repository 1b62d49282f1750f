#include "cli/farm_texts.h"

#include <vector>

namespace {

using cmdline::Placement;

struct TextRule {
    const char* name;     // as the usage names it
    Placement placement;  // where the control module puts it
    bool local_path;      // a file on this computer: made absolute, quoted as one argument
};

// The rules for the texts of each command, in usage order.
std::vector<TextRule> RulesFor(const FarmRequest& request) {
    switch (request.verb) {
        case Verb::kCreate:
            return {{"TYPE", Placement::kBare, false}};
        case Verb::kRename:
            return {{"TITLE", Placement::kQuoted, false}};
        case Verb::kInstall:
            if (request.by_package) return {{"PACKAGE", Placement::kBare, false}};
            return {{"APK", Placement::kBare, true}};
        case Verb::kUninstall:
        case Verb::kStartApp:
        case Verb::kStopApp:
        case Verb::kClear:
            return {{"PACKAGE", Placement::kBare, false}};
        case Verb::kSendKey:
        case Verb::kGetConfig:
            return {{"KEY", Placement::kBare, false}};
        case Verb::kSetConfig:
            return {{"KEY", Placement::kBare, false}, {"VALUE", Placement::kBare, false}};
        case Verb::kExec:
            return {{"COMMAND", Placement::kQuoted, false}};
        case Verb::kAdb:
            return {{"ARGS", Placement::kBare, false}};
        case Verb::kText:
            return {{"TEXT", Placement::kBare, false}};
        case Verb::kScreenshot:
            return {{"FILE", Placement::kBare, true}};
        default:
            return {};
    }
}

// adb gets its arguments back as they were given: each one that needs it is quoted.
std::string JoinArguments(const std::vector<std::string>& args) {
    std::string joined;
    for (const std::string& arg : args) {
        if (!joined.empty()) joined += ' ';
        joined += cmdline::QuoteArgument(arg);
    }
    return joined;
}

}  // namespace

std::optional<std::string> PrepareTexts(FarmRequest& request, const cmdline::ShellFacts& facts,
                                        const FullPathOf& full_path) {
    if (request.verb == Verb::kAdb) request.texts = {JoinArguments(request.texts)};
    const std::vector<TextRule> rules = RulesFor(request);
    // Two texts of one line (KEY VALUE) must not form a %name% between them either.
    std::string line_part;
    for (size_t i = 0; i < request.texts.size() && i < rules.size(); ++i) {
        std::string text = request.texts[i];
        if (rules[i].local_path) text = cmdline::QuoteArgument(full_path(text));
        line_part += (i ? " " : "") + text;
        std::string why;
        std::optional<std::string> escaped =
            cmdline::EscapeForCmd(text, rules[i].placement, facts, &why);
        if (!escaped || !cmdline::EscapeForCmd(line_part, rules[i].placement, facts, &why))
            return std::string(rules[i].name) +
                   " cannot be passed through cmd.exe unchanged: " + why;
        request.texts[i] = *escaped;
    }
    return std::nullopt;
}
