// The grammar as data: every name a row refers to resolves, every parameter's range, words
// and default hold together, each option takes its limits and refuses what lies past them,
// and the front ends see what is theirs.
#include "farm/command/grammar.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "cli/farm_help.h"
#include "farm/command/argument_reading.h"
#include "row_name.h"

namespace {

TEST(Grammar, EveryNameARowGivesIsARow) {
    for (const OptionRow& option : AllOptions()) {
        for (const char* list : {option.needs, option.excludes})
            for (const std::string& name : ListWords(list, '|')) {
                const OptionRow* other = FindOption(name);
                ASSERT_NE(other, nullptr) << option.name << " names " << name;
                // Some command takes both, or the need can never be met.
                bool together = false;
                for (const VerbRow& verb : AllVerbs())
                    together |= TakesOption(verb, option) && TakesOption(verb, *other);
                EXPECT_TRUE(together) << option.name << " and " << name;
            }
        for (const std::string& verb : ListWords(option.verbs, ' '))
            EXPECT_NE(FindVerb(verb), nullptr) << option.name << " names " << verb;
        if (option.replaces) {
            bool found = false;
            for (const VerbRow& verb : AllVerbs())
                for (const Slot& slot : VerbArguments(verb))
                    found |= TakesOption(verb, option) && option.replaces == std::string(slot.name);
            EXPECT_TRUE(found) << option.name << " stands in for " << option.replaces;
        }
    }
    for (const VerbRow& verb : AllVerbs())
        for (const OptionDefault& own : verb.defaults) {
            const OptionRow* option = FindOption(own.option);
            ASSERT_NE(option, nullptr) << verb.name << " names " << own.option;
            EXPECT_TRUE(TakesOption(verb, *option)) << verb.name << " " << own.option;
        }
    for (const VerbRow& verb : AllVerbs())
        for (const OptionMeaning& meaning : verb.meanings) {
            const OptionRow* option = FindOption(meaning.option);
            ASSERT_NE(option, nullptr) << verb.name << " names " << meaning.option;
            EXPECT_TRUE(TakesOption(verb, *option)) << verb.name << " " << meaning.option;
        }
}

TEST(Grammar, McpsParallelIsHelpedAsWhatItBoundsThere) {
    const std::string help = CommandHelp("mcp");
    EXPECT_NE(help.find("tool starts in flight across all calls (default 16)"), std::string::npos)
        << help;
    EXPECT_EQ(help.find("work on at most N VMs at once"), std::string::npos) << help;
    EXPECT_NE(CommandHelp("stop").find("work on at most N VMs at once"), std::string::npos);
}

// A number as a command line gives it.
std::string Written(double value, OptionKind kind) {
    if (kind == OptionKind::kWhole) return std::to_string(static_cast<int64_t>(value));
    return std::to_string(value);  // six decimals: 0.001 apart reads apart
}

TEST(Grammar, EveryOptionTakesItsLimitsAndDefaultAndRefusesBeyond) {
    for (const VerbDescription& described : DescribeGrammar(kConsoleFrontEnd)) {
        for (const Parameter& parameter : described.parameters) {
            if (!parameter.is_option) continue;
            const OptionRow& option = *parameter.option;
            const std::string where = std::string(described.verb->name) + " " + option.name;
            OptionValue value;
            if (parameter.low) {
                ASSERT_TRUE(parameter.high) << where;
                EXPECT_LE(*parameter.low, *parameter.high) << where;
                EXPECT_FALSE(ReadOptionValue(option, Written(*parameter.low, option.kind), &value))
                    << where;
                EXPECT_FALSE(ReadOptionValue(option, Written(*parameter.high, option.kind), &value))
                    << where;
                const double step = option.kind == OptionKind::kWhole ? 1 : 0.001;
                EXPECT_TRUE(
                    ReadOptionValue(option, Written(*parameter.low - step, option.kind), &value))
                    << where;
                EXPECT_TRUE(
                    ReadOptionValue(option, Written(*parameter.high + step, option.kind), &value))
                    << where;
            }
            if (parameter.default_text) {
                EXPECT_FALSE(ReadOptionValue(option, *parameter.default_text, &value))
                    << where << " default " << *parameter.default_text;
            }
            if (option.kind == OptionKind::kChoice) {
                EXPECT_FALSE(parameter.words.empty()) << where;
                for (const std::string& word : parameter.words)
                    EXPECT_FALSE(ReadOptionValue(option, word, &value)) << where << " " << word;
                EXPECT_TRUE(ReadOptionValue(option, "not-a-word", &value)) << where;
            }
            EXPECT_EQ(parameter.help.find("{="), std::string::npos) << where;
            EXPECT_FALSE(parameter.help.empty()) << where;
        }
        EXPECT_EQ(VerbAbout(*described.verb).find("{="), std::string::npos) << described.verb->name;
    }
}

// Every command's arguments come first and in usage order, then its options; a required
// argument has no default.
TEST(Grammar, EveryCommandDescribesItsArgumentsThenItsOptions) {
    const std::vector<VerbDescription> described = DescribeGrammar(kConsoleFrontEnd);
    ASSERT_EQ(described.size(), AllVerbs().size());
    for (const VerbDescription& verb : described) {
        bool options_began = false;
        size_t arguments = 0;
        for (const Parameter& parameter : verb.parameters) {
            if (parameter.is_option) {
                options_began = true;
                continue;
            }
            EXPECT_FALSE(options_began) << verb.verb->name << " " << parameter.name;
            EXPECT_FALSE(parameter.required && parameter.default_text) << parameter.name;
            ++arguments;
        }
        EXPECT_EQ(arguments, VerbArguments(*verb.verb).size()) << verb.verb->name;
        EXPECT_EQ(verb.parameters.size() - arguments, OptionsOf(*verb.verb).size())
            << verb.verb->name;
    }
}

TEST(Grammar, ACommandsOwnDefaultIsTheOneItsRequestStartsWith) {
    EXPECT_EQ(NewRequest(*FindVerb("health")).parallel, kHealthParallel);
    EXPECT_EQ(NewRequest(*FindVerb("start")).parallel, 1);
    EXPECT_EQ(NewRequest(*FindVerb("start")).boot_timeout_s, kDefaultBootTimeoutS);
    for (const VerbDescription& verb : DescribeGrammar(kConsoleFrontEnd))
        for (const Parameter& parameter : verb.parameters) {
            if (parameter.name != "--parallel") continue;
            EXPECT_EQ(*parameter.default_text, std::to_string(NewRequest(*verb.verb).parallel))
                << verb.verb->name;
        }
}

struct FrontEndRow {
    const char* name;
    unsigned front_end;
    const char* verb;
    const char* option;
    bool offered;
};

class GrammarFrontEndTest : public testing::TestWithParam<FrontEndRow> {};

TEST_P(GrammarFrontEndTest, OffersWhatIsItsOwn) {
    const FrontEndRow& row = GetParam();
    bool offered = false;
    for (const VerbDescription& verb : DescribeGrammar(row.front_end))
        if (verb.verb->name == std::string(row.verb))
            for (const Parameter& parameter : verb.parameters)
                offered |= parameter.name == row.option;
    EXPECT_EQ(offered, row.offered);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GrammarFrontEndTest,
    testing::Values(FrontEndRow{"console_watch", kConsoleFrontEnd, "health", "--watch", true},
                    FrontEndRow{"mcp_no_watch", kMcpFrontEnd, "health", "--watch", false},
                    FrontEndRow{"mcp_no_heal", kMcpFrontEnd, "health", "--heal", false},
                    FrontEndRow{"mcp_sample", kMcpFrontEnd, "health", "--sample", true},
                    FrontEndRow{"serve_parallel", kServeFrontEnd, "start", "--parallel", true},
                    FrontEndRow{"mcp_set", kMcpFrontEnd, "start", "SET", true},
                    FrontEndRow{"mcp_package", kMcpFrontEnd, "install", "-p", true}),
    RowName());

struct EffectRow {
    const char* name;
    const char* verb;
    Effect effect;
    bool writes_file;
};

class GrammarEffectTest : public testing::TestWithParam<EffectRow> {};

TEST_P(GrammarEffectTest, SaysWhatTheCommandDoesToTheFarm) {
    const VerbRow* verb = FindVerb(GetParam().verb);
    ASSERT_NE(verb, nullptr);
    EXPECT_EQ(verb->effect, GetParam().effect);
    EXPECT_EQ(verb->writes_file, GetParam().writes_file);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GrammarEffectTest,
    testing::Values(EffectRow{"list_asks", "list", Effect::kReadOnly, false},
                    EffectRow{"running_asks", "running", Effect::kReadOnly, false},
                    EffectRow{"health_asks", "health", Effect::kReadOnly, false},
                    EffectRow{"screenshot_asks_and_writes", "screenshot", Effect::kReadOnly, true},
                    EffectRow{"start_adds", "start", Effect::kAdditive, false},
                    EffectRow{"create_adds", "create", Effect::kAdditive, false},
                    EffectRow{"stop_destroys", "stop", Effect::kDestructive, false},
                    EffectRow{"remove_destroys", "remove", Effect::kDestructive, false},
                    EffectRow{"import_destroys", "import", Effect::kDestructive, false},
                    EffectRow{"export_writes", "export", Effect::kAdditive, true}),
    RowName());

TEST(Grammar, TheConsoleWriteOfCloneOverwrites) {
    EXPECT_TRUE(FindOption("--console")->overwrites);
    EXPECT_FALSE(FindOption("--randomize")->overwrites);
}

}  // namespace

// A command over one VM takes any index from 0 up: the first VM is 0.
TEST(Grammar, AOneVmCommandTakesEveryIndexFromZero) {
    for (const VerbDescription& verb : DescribeGrammar(kConsoleFrontEnd)) {
        if (verb.verb->kind != VerbKind::kOneVm) continue;
        const Parameter& index = verb.parameters.front();
        ASSERT_EQ(index.kind, ParameterKind::kVmIndex) << verb.verb->name;
        EXPECT_EQ(index.low, 0.0) << verb.verb->name;
        EXPECT_EQ(index.high, static_cast<double>(INT32_MAX)) << verb.verb->name;
    }
}

// An option that excludes another is refused beside it, and only where the command takes both.
TEST(Grammar, AnExclusionNamesTheOtherOption) {
    const VerbRow* start = FindVerb("start");
    const VerbRow* list = FindVerb("list");
    ASSERT_TRUE(start && list);
    const OptionRow quiet{.name = "--quiet", .excludes = "--boot"};
    const auto boot_given = [](const OptionRow& option) {
        return std::string(option.name) == "--boot";
    };
    const auto nothing_given = [](const OptionRow&) { return false; };
    EXPECT_EQ(Exclusion(*start, quiet, boot_given), "--quiet cannot be given with --boot");
    EXPECT_EQ(Exclusion(*start, quiet, nothing_given), std::nullopt);
    EXPECT_EQ(Exclusion(*list, quiet, boot_given), std::nullopt);
}
