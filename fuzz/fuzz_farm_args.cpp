// Fuzzes the console companion's command line: the input is its arguments separated by zero
// bytes. Whatever they are, parsing ends in a request, a help text or a usage error with a
// message; and every text of a request either is refused or, escaped for cmd.exe, comes back
// unchanged from cmd's caret removal with no operator left bare.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cmd_escape.h"
#include "cli/farm_args.h"
#include "cli/farm_texts.h"
#include "fuzz_support.h"

namespace {

constexpr std::string_view kOperators = "&|<>()\"^";

bool IsLead(char c) {
    return static_cast<unsigned char>(c) >= 0x80;
}

// What cmd makes of a bare text: a caret makes the next character ordinary and goes; an
// operator without one would act. Steps over GBK two-byte characters, as cmd sees them whole.
bool CmdReadsBack(std::string_view escaped, std::string* text) {
    for (size_t i = 0; i < escaped.size();) {
        const size_t width = IsLead(escaped[i]) && i + 1 < escaped.size() ? 2 : 1;
        if (width == 1 && escaped[i] == '^') {
            if (i + 1 >= escaped.size()) return false;
            const size_t next = IsLead(escaped[i + 1]) && i + 2 < escaped.size() ? 2 : 1;
            text->append(escaped.substr(i + 1, next));
            i += 1 + next;
            continue;
        }
        if (width == 1 && kOperators.find(escaped[i]) != std::string_view::npos) return false;
        text->append(escaped.substr(i, width));
        i += width;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args;
    for (size_t start = 0; start <= input.size();) {
        const size_t end = std::min(input.find('\0', start), input.size());
        args.emplace_back(input.substr(start, end - start));
        start = end + 1;
    }

    ParseOutcome outcome = ParseFarmArgs(args, "1.0.0");
    if (outcome.kind == ParseOutcome::Kind::kUsageError) FUZZ_REQUIRE(!outcome.text.empty(), input);
    if (outcome.kind != ParseOutcome::Kind::kRun) return 0;

    cmdline::ShellFacts facts;
    facts.variable_defined = [](std::string_view name) { return name == "PATH"; };
    FarmRequest request = outcome.request;
    PrepareTexts(request, facts, [](const std::string& path) { return "C:\\x\\" + path; });

    for (const std::string& text : outcome.request.texts) {
        std::string why;
        std::optional<std::string> escaped =
            cmdline::EscapeForCmd(text, cmdline::Placement::kBare, facts, &why);
        if (!escaped) {
            FUZZ_REQUIRE(!why.empty(), text);
            continue;
        }
        std::string back;
        FUZZ_REQUIRE(CmdReadsBack(*escaped, &back), text, *escaped);
        FUZZ_REQUIRE(back == text, text, *escaped, back);
    }
    return 0;
}
