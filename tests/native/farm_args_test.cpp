#include "cli/farm_args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cmd_escape.h"
#include "cli/farm_texts.h"

namespace {

// A compact view of what a command line asks for.
std::string Describe(const FarmRequest& r) {
    std::string d = r.command + " i=" + std::to_string(r.index);
    for (int32_t n : r.numbers) d += " n=" + std::to_string(n);
    for (const std::string& t : r.texts) d += " t=" + t;
    if (r.wait) d += " wait";
    if (r.timeout_ms) d += " timeout=" + std::to_string(*r.timeout_ms);
    if (r.by_package) d += " package";
    if (r.verb == Verb::kClone) {
        d += " master=" + std::to_string(r.master) + " count=" + std::to_string(r.count) +
             " first=" + std::to_string(r.first) +
             " console=" + std::to_string(static_cast<int>(r.console));
        if (r.dry_run) d += " dry";
    }
    if (r.json) d += " json";
    if (r.install_dir) d += " dir=" + *r.install_dir;
    if (r.deadline_ms) d += " deadline=" + std::to_string(*r.deadline_ms);
    return d;
}

struct ParseRow {
    std::vector<std::string> args;
    // What the request reads as, or "!" + a part of the usage error, or "help"/"version".
    std::string expected;
};

class FarmArgsTest : public testing::TestWithParam<ParseRow> {};

TEST_P(FarmArgsTest, ReadsOrRefusesTheCommandLine) {
    const ParseRow& row = GetParam();
    const ParseOutcome outcome = ParseFarmArgs(row.args, "9.9.9");
    switch (outcome.kind) {
        case ParseOutcome::Kind::kRun:
            EXPECT_EQ(Describe(outcome.request), row.expected);
            break;
        case ParseOutcome::Kind::kUsageError:
            ASSERT_EQ(row.expected[0], '!') << outcome.text;
            EXPECT_NE(outcome.text.find(row.expected.substr(1)), std::string::npos) << outcome.text;
            break;
        case ParseOutcome::Kind::kHelp:
            EXPECT_EQ(row.expected, "help");
            break;
        case ParseOutcome::Kind::kVersion:
            EXPECT_EQ(row.expected, "version");
            EXPECT_EQ(outcome.text, "MEmuFarm 9.9.9\n");
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FarmArgsTest,
    testing::Values(
        // Good command lines; global options before or after the command.
        ParseRow{{"list"}, "list i=0"},
        ParseRow{{"--json", "--install-dir", "D:\\Emu", "list"}, "list i=0 json dir=D:\\Emu"},
        ParseRow{{"list", "--json", "--deadline=2.5"}, "list i=0 json deadline=2500"},
        ParseRow{{"start", "3", "--wait", "--timeout", "60000"}, "start i=3 wait timeout=60000"},
        ParseRow{
            {"clone", "--master", "2", "--count", "20", "--first", "121", "--console", "7.2.1"},
            "clone i=0 master=2 count=20 first=121 console=1"},
        ParseRow{{"clone", "--count=0", "--master=0", "--dry-run"},
                 "clone i=0 master=0 count=0 first=101 console=0 dry"},
        ParseRow{{"tap", "1", "-5", "-10"}, "tap i=1 n=-5 n=-10"},
        ParseRow{{"swipe", "0", "1", "2", "3", "4"}, "swipe i=0 n=1 n=2 n=3 n=4"},
        ParseRow{{"install", "4", "-p", "com.x"}, "install i=4 t=com.x package"},
        ParseRow{{"create"}, "create i=0"}, ParseRow{{"text", "1", "--", "-x"}, "text i=1 t=-x"},
        ParseRow{{"adb", "1", "shell", "ls", "-l", "--json"}, "adb i=1 t=shell t=ls t=-l t=--json"},
        ParseRow{{"start", "--help"}, "help"}, ParseRow{{"--help"}, "help"},
        ParseRow{{"--version"}, "version"},
        // Bad command lines: each names what is wrong.
        ParseRow{{}, "!no command given"}, ParseRow{{"launch", "1"}, "!unknown command 'launch'"},
        ParseRow{{"start"}, "!missing INDEX"},
        ParseRow{{"start", "1", "2"}, "!unexpected argument '2'"},
        ParseRow{{"start", "x"}, "!INDEX must be a VM index"},
        ParseRow{{"start", "-1"}, "!INDEX must be a VM index"},
        ParseRow{{"start", "2147483648"}, "!INDEX must be a VM index"},
        ParseRow{{"start", "1", "--timeout", "5"}, "!--timeout needs --wait"},
        ParseRow{{"start", "1", "--wait", "--timeout", "-1"}, "!--timeout must be"},
        ParseRow{{"tap", "1", "2"}, "!missing Y"},
        ParseRow{{"tap", "1", "2", "y"}, "!Y must be a whole number"},
        ParseRow{{"key", "1", "99999999999"}, "!CODE must be a whole number"},
        ParseRow{{"clone", "--count", "3"}, "!missing --master"},
        ParseRow{{"clone", "--master", "0"}, "!missing --count"},
        ParseRow{{"clone", "--master", "0", "--count", "-1"}, "!--count must be"},
        ParseRow{{"clone", "--master", "0", "--count", "1", "--first", "0"}, "!--first must be"},
        ParseRow{{"clone", "--master", "0", "--count", "2", "--first", "999999999999"},
                 "!beyond 999999999999"},
        ParseRow{{"clone", "--master", "0", "--count", "1", "--console", "7.3"},
                 "!--console must be 7.2.1, 7.2.2 or none"},
        ParseRow{{"clone", "--master", "0", "--master", "1", "--count", "1"}, "!given twice"},
        ParseRow{{"start", "1", "--dry-run"}, "!unknown option '--dry-run' for start"},
        ParseRow{{"list", "--json=yes"}, "!--json takes no value"},
        ParseRow{{"list", "--deadline", "0"}, "!--deadline must be"},
        ParseRow{{"list", "--deadline"}, "!--deadline needs a value"},
        ParseRow{{"install", "1"}, "!missing APK"},
        ParseRow{{"install", "1", "a.apk", "-p", "com.x"}, "!not both"},
        ParseRow{{"adb", "1"}, "!missing ARGS"},
        ParseRow{{"text", "1", "-x"}, "!unknown option '-x'"}));

struct EscapeRow {
    const char* text;
    cmdline::Placement placement;
    const char* expected;  // nullptr: refused
};

class CmdEscapeTest : public testing::TestWithParam<EscapeRow> {};

TEST_P(CmdEscapeTest, CmdPassesTheTextOnUnchangedOrItIsRefused) {
    const EscapeRow& row = GetParam();
    cmdline::ShellFacts facts;
    facts.variable_defined = [](std::string_view name) { return name == "PATH"; };
    std::string why;
    const std::optional<std::string> escaped =
        cmdline::EscapeForCmd(row.text, row.placement, facts, &why);
    if (!row.expected) {
        EXPECT_FALSE(escaped) << *escaped;
        EXPECT_FALSE(why.empty());
    } else {
        ASSERT_TRUE(escaped) << why;
        EXPECT_EQ(*escaped, row.expected);
    }
}

constexpr auto kBare = cmdline::Placement::kBare;
constexpr auto kQuoted = cmdline::Placement::kQuoted;

INSTANTIATE_TEST_SUITE_P(
    Rows, CmdEscapeTest,
    testing::Values(EscapeRow{"a&echo INJECTED", kBare, "a^&echo INJECTED"},
                    EscapeRow{"a|b", kBare, "a^|b"}, EscapeRow{"<in", kBare, "^<in"},
                    EscapeRow{"out>", kBare, "out^>"}, EscapeRow{"^", kBare, "^^"},
                    EscapeRow{"(x)", kBare, "^(x^)"},
                    EscapeRow{"say \"hi\"", kBare, "say ^\"hi^\""},
                    EscapeRow{"100%", kBare, "100%"}, EscapeRow{"%NOPE%", kBare, "%NOPE%"},
                    EscapeRow{"%PATH%", kBare, nullptr}, EscapeRow{"%PATH:~0,3%", kBare, nullptr},
                    EscapeRow{"%DATE%", kQuoted, nullptr}, EscapeRow{"a!b!", kBare, "a!b!"},
                    // A GBK character whose trail byte is '|' or '^' is not escaped.
                    EscapeRow{"\x81|\x81^", kBare, "\x81|\x81^"},
                    EscapeRow{"a&b|c<d>e^f(g)", kQuoted, "a&b|c<d>e^f(g)"},
                    EscapeRow{"x\"y", kQuoted, nullptr}, EscapeRow{"", kBare, ""}));

TEST(CmdEscape, DelayedExpansionRefusesTheExclamationMark) {
    cmdline::ShellFacts facts;
    facts.delayed_expansion = true;
    EXPECT_FALSE(cmdline::EscapeForCmd("hi!", kBare, facts, nullptr));
    EXPECT_TRUE(cmdline::EscapeForCmd("hi", kBare, facts, nullptr));
}

TEST(CmdEscape, QuoteArgumentFollowsTheRuntimeSplittingRules) {
    EXPECT_EQ(cmdline::QuoteArgument("plain"), "plain");
    EXPECT_EQ(cmdline::QuoteArgument(""), "\"\"");
    EXPECT_EQ(cmdline::QuoteArgument("C:\\My Files\\"), "\"C:\\My Files\\\\\"");
    EXPECT_EQ(cmdline::QuoteArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
    // A trail byte equal to a backslash before the closing quote is not doubled.
    EXPECT_EQ(cmdline::QuoteArgument("a b\x81\\"), "\"a b\x81\\\"");
}

TEST(FarmTexts, PathsAreMadeAbsoluteQuotedAndEscaped) {
    cmdline::ShellFacts facts;
    facts.variable_defined = [](std::string_view name) { return name == "X b"; };
    const FullPathOf full = [](const std::string& path) { return "C:\\My Dir\\" + path; };

    FarmRequest shot = ParseFarmArgs({"screenshot", "1", "a&b.png"}, "1").request;
    EXPECT_FALSE(PrepareTexts(shot, facts, full));
    EXPECT_EQ(shot.texts.at(0), "^\"C:\\My Dir\\a^&b.png^\"");

    FarmRequest adb = ParseFarmArgs({"adb", "2", "shell", "echo", "a b", "x>y"}, "1").request;
    EXPECT_FALSE(PrepareTexts(adb, facts, full));
    EXPECT_EQ(adb.texts, std::vector<std::string>{"shell echo ^\"a b^\" x^>y"});

    // KEY and VALUE share one line, where "%X" and "b%" form %X b%.
    FarmRequest config = ParseFarmArgs({"setconfig", "1", "a%X", "b%"}, "1").request;
    const std::optional<std::string> refused = PrepareTexts(config, facts, full);
    ASSERT_TRUE(refused);
    EXPECT_NE(refused->find("VALUE"), std::string::npos);

    FarmRequest rename = ParseFarmArgs({"rename", "1", "my \"best\" VM"}, "1").request;
    EXPECT_TRUE(PrepareTexts(rename, facts, full));
}

}  // namespace
