// The farm's tools as the grammar's rows give them: a tool per command offered to MCP, a
// property per argument and option with the console's limits, and every value read by the
// console's checks with the console's messages.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "agent/tool_schema.h"
#include "agent_test_support.h"
#include "cli/farm_args.h"
#include "cli/farm_help.h"
#include "farm/command/argument_reading.h"
#include "row_name.h"
#include "text/number_text.h"

namespace {

using agent::OfferedTools;
using agent::PropertyName;
using agent::Tool;
using agent_test::EveryTool;
using Json = nlohmann::json;

std::string Same(std::string_view text) {
    return std::string(text);
}

TEST(AgentTools, EveryVerbOfferedToMcpIsAToolAndNoOther) {
    std::set<std::string> offered;
    for (const Tool& tool : OfferedTools(EveryTool())) offered.insert(tool.verb->name);
    for (const VerbRow& verb : AllVerbs())
        EXPECT_EQ(offered.count(verb.name), (verb.front_ends & kMcpFrontEnd) ? 1u : 0u)
            << verb.name;
}

TEST(AgentTools, EveryParameterIsAPropertyWithTheRowsLimitsAndDefault) {
    for (const Tool& tool : OfferedTools(EveryTool())) {
        const Json definition = Json::parse(ToolDefinition(tool, Same).dump());
        const Json& schema = definition["inputSchema"];
        EXPECT_EQ(definition["name"], tool.verb->name);
        EXPECT_EQ(definition["description"], VerbAbout(*tool.verb));
        EXPECT_EQ(schema["type"], "object");
        EXPECT_EQ(schema["additionalProperties"], false);
        EXPECT_EQ(definition["outputSchema"]["type"], "object");
        std::set<std::string> required;
        for (const Json& name : schema.value("required", Json::array())) required.insert(name);
        size_t parameters = 0;
        for (const VerbDescription& described : DescribeGrammar(kMcpFrontEnd)) {
            if (described.verb != tool.verb) continue;
            for (const Parameter& parameter : described.parameters) {
                ++parameters;
                const std::string where = std::string(tool.verb->name) + " " + parameter.name;
                const std::string name = PropertyName(parameter);
                ASSERT_TRUE(schema["properties"].contains(name)) << where;
                Json property = schema["properties"][name];
                if (property.contains("anyOf")) property = property["anyOf"][0];
                EXPECT_EQ(required.count(name) == 1, parameter.required) << where;
                EXPECT_TRUE(schema["properties"][name]["description"].is_string()) << where;
                if (parameter.low) {
                    EXPECT_EQ(property["minimum"].get<double>(), *parameter.low) << where;
                }
                if (parameter.high) {
                    EXPECT_EQ(property["maximum"].get<double>(), *parameter.high) << where;
                }
                if (parameter.kind == ParameterKind::kChoice) {
                    EXPECT_EQ(property["enum"], Json(parameter.words)) << where;
                }
                if (parameter.default_text && parameter.kind != ParameterKind::kFlag) {
                    const Json& value = schema["properties"][name]["default"];
                    const std::string text = value.is_string()
                                                 ? value.get<std::string>()
                                                 : numtext::LimitText(value.get<double>());
                    EXPECT_EQ(text, *parameter.default_text) << where;
                }
            }
        }
        // The verb's own, then --deadline: every global option the grammar offers to MCP; and
        // screenshot's images: max_bytes, max_width, format.
        const size_t own = tool.verb->job == VmJob::kScreenshot ? 3 : 0;
        EXPECT_EQ(schema["properties"].size(), parameters + 1 + own) << tool.verb->name;
        EXPECT_TRUE(schema["properties"].contains("deadline")) << tool.verb->name;
        EXPECT_FALSE(schema["properties"].contains("install_dir")) << tool.verb->name;
        EXPECT_FALSE(schema["properties"].contains("json")) << tool.verb->name;
    }
}

struct NameRow {
    const char* name;
    const char* verb;
    const char* parameter;
    const char* property;
};

class PropertyNameTest : public testing::TestWithParam<NameRow> {};

TEST_P(PropertyNameTest, IsTheConsolesNameInSnakeCase) {
    const NameRow& row = GetParam();
    const std::optional<Tool> tool = agent::FindTool(EveryTool(), row.verb);
    ASSERT_TRUE(tool);
    bool found = false;
    for (const Parameter& parameter : tool->parameters)
        if (parameter.name == row.parameter) {
            EXPECT_EQ(PropertyName(parameter), row.property);
            found = true;
        }
    EXPECT_TRUE(found);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PropertyNameTest,
    testing::Values(NameRow{"boot_timeout", "start", "--boot-timeout", "boot_timeout"},
                    NameRow{"set", "start", "SET", "set"},
                    NameRow{"install_package", "install", "-p", "package"},
                    NameRow{"install_apk", "install", "APK", "apk"},
                    NameRow{"export_file", "export", "FILE", "file"},
                    NameRow{"swipe_x1", "swipe", "X1", "x1"},
                    NameRow{"max_private_mb", "health", "--max-private-mb", "max_private_mb"},
                    NameRow{"deadline", "list", "--deadline", "deadline"},
                    NameRow{"parallel_on_a_set", "stop", "--parallel", "parallel"}),
    RowName());

struct HintRow {
    const char* name;
    const char* verb;
    bool read_only;
    std::optional<bool> destructive;  // absent: not given
    bool idempotent;
};

class HintTest : public testing::TestWithParam<HintRow> {};

TEST_P(HintTest, ComeFromTheVerbRow) {
    const HintRow& row = GetParam();
    const std::optional<Tool> tool = agent::FindTool(EveryTool(), row.verb);
    ASSERT_TRUE(tool);
    const Json hints = Json::parse(ToolDefinition(*tool, Same).dump())["annotations"];
    EXPECT_EQ(hints["readOnlyHint"], row.read_only);
    EXPECT_EQ(hints.contains("destructiveHint"), row.destructive.has_value());
    if (row.destructive) {
        EXPECT_EQ(hints["destructiveHint"], *row.destructive);
    }
    EXPECT_EQ(hints["idempotentHint"], row.idempotent);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HintTest,
    testing::Values(HintRow{"read_only", "list", true, std::nullopt, true},
                    HintRow{"additive", "start", false, false, true},
                    HintRow{"additive_not_idempotent", "tap", false, false, false},
                    HintRow{"additive_idempotent_install", "install", false, false, true},
                    HintRow{"additive_idempotent_export", "export", false, false, true},
                    HintRow{"destructive", "remove", false, true, false},
                    HintRow{"destructive_idempotent", "stop", false, true, true},
                    HintRow{"destructive_idempotent_disconnect", "disconnect", false, true, true}),
    RowName());

// The bounds an agent reads in a schema are the console's: both ends of each coordinate.
TEST(AgentTools, TheCoordinatesOfSetgpsAreBoundedAtBothEnds) {
    const std::optional<Tool> tool = agent::FindTool(EveryTool(), "setgps");
    ASSERT_TRUE(tool);
    const Json properties =
        Json::parse(ToolDefinition(*tool, Same).dump())["inputSchema"]["properties"];
    EXPECT_EQ(properties["longitude"]["minimum"], -180) << properties.dump();
    EXPECT_EQ(properties["longitude"]["maximum"], 180);
    EXPECT_EQ(properties["latitude"]["minimum"], -90);
    EXPECT_EQ(properties["latitude"]["maximum"], 90);
}

// A number one step past a limit, as a call would send it.
Json Past(const Parameter& parameter, bool above) {
    const double step = parameter.kind == ParameterKind::kWhole ? 1 : 0.001;
    const double value = above ? *parameter.high + step : *parameter.low - step;
    if (parameter.kind == ParameterKind::kWhole) return static_cast<int64_t>(value);
    return value;
}

// The words the console reads for the same call, and the arguments of the call.
struct Call {
    Json arguments = Json::object();
    std::vector<std::string> words;
};

Call Base(const Tool& tool, const Parameter& option) {
    Call call;
    call.words.push_back(tool.verb->name);
    agent_test::AddRequired(tool, call.arguments, call.words, &option);
    // An option that needs another is given with the first one it needs.
    if (option.option->needs) {
        const std::string needed = ListWords(option.option->needs, '|').front();
        call.words.push_back(needed);
        call.arguments[needed.substr(2)] = true;
    }
    return call;
}

agent::ReadRequest Read(const Tool& tool, const Json& arguments) {
    return agent::ReadToolArguments(tool, arguments, EveryTool(), agent_test::Context());
}

TEST(AgentTools, EveryLimitIsTakenAndOnePastItRefusedWithTheConsolesMessage) {
    int checked = 0;
    for (const Tool& tool : OfferedTools(EveryTool())) {
        for (const Parameter& parameter : tool.parameters) {
            if (!parameter.is_option || !parameter.low || !parameter.high) continue;
            for (bool above : {false, true}) {
                const std::string where = std::string(tool.verb->name) + " " + parameter.name +
                                          (above ? " high" : " low");
                Call call = Base(tool, parameter);
                const std::string name = PropertyName(parameter);
                const double limit = above ? *parameter.high : *parameter.low;
                call.arguments[name] = limit;
                const agent::ReadRequest taken = Read(tool, call.arguments);
                EXPECT_TRUE(taken.request) << where << ": " << taken.refusal;

                call.arguments[name] = Past(parameter, above);
                const agent::ReadRequest refused = Read(tool, call.arguments);
                EXPECT_FALSE(refused.request) << where;
                std::string text;
                agent::ValueText(call.arguments[name], &text);
                // A global option before the command, where the console always reads it.
                const bool global = parameter.option->scope == OptionScope::kGlobal;
                call.words.insert(global ? call.words.begin() : call.words.end(),
                                  {parameter.name, text});
                // adb's words take every word after the SET: its options are the tool's alone,
                // read by the same row.
                OptionValue value;
                const std::optional<std::string> row_says =
                    ReadOptionValue(*parameter.option, text, &value);
                ASSERT_TRUE(row_says) << where;
                EXPECT_EQ(refused.refusal, *row_says) << where;
                if (tool.verb->op == Op::kAdbCommand) continue;
                const ParseOutcome console = ParseFarmArgs(call.words, "1");
                EXPECT_EQ(console.kind, ParseOutcome::Kind::kUsageError) << where;
                EXPECT_EQ(refused.refusal, console.text) << where;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 20);
}

struct ArgumentRow {
    const char* name;
    const char* verb;
    const char* arguments;   // JSON
    const char* refusal;     // null: taken
    const char* first_text;  // taken: the request's first text, if any
};

class ArgumentTest : public testing::TestWithParam<ArgumentRow> {};

TEST_P(ArgumentTest, ReadsAsTheConsoleReads) {
    const ArgumentRow& row = GetParam();
    const std::optional<Tool> tool = agent::FindTool(EveryTool(), row.verb);
    ASSERT_TRUE(tool);
    const agent::ReadRequest read = Read(*tool, Json::parse(row.arguments));
    if (row.refusal) {
        EXPECT_FALSE(read.request);
        EXPECT_EQ(read.refusal, row.refusal);
        return;
    }
    ASSERT_TRUE(read.request) << read.refusal;
    if (row.first_text) {
        ASSERT_FALSE(read.request->texts.empty());
        EXPECT_EQ(read.request->texts.front(), row.first_text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ArgumentTest,
    testing::Values(
        ArgumentRow{"dash_text_is_typed", "text", R"({"set":"1","text":"-h"})", nullptr, "-h"},
        ArgumentRow{"dashes_are_a_text", "text", R"({"set":"1","text":"--"})", nullptr, "--"},
        ArgumentRow{"set_as_a_number", "stop", R"({"set":3})", nullptr, nullptr},
        ArgumentRow{"bad_set", "stop", R"({"set":"5-3"})", "SET '5-3' holds the reversed range 5-3",
                    nullptr},
        ArgumentRow{"unknown_property", "stop", R"({"set":"1","force":true})",
                    "unknown argument 'force' for stop", nullptr},
        ArgumentRow{"missing_set", "stop", R"({})", "missing SET", nullptr},
        ArgumentRow{"flag_not_boolean", "stop", R"({"set":"1","wait":"yes"})",
                    "--wait must be true or false", nullptr},
        ArgumentRow{"flag_false_is_not_given", "start", R"({"set":"1","wait":false,"timeout":5})",
                    "--timeout needs --wait (or --boot)", nullptr},
        ArgumentRow{"need_met", "start", R"({"set":"1","wait":true,"timeout":5})", nullptr,
                    nullptr},
        ArgumentRow{"whole_as_decimal_json", "stop", R"({"set":"1","parallel":4.0})", nullptr,
                    nullptr},
        ArgumentRow{"whole_with_fraction", "stop", R"({"set":"1","parallel":2.5})",
                    "--parallel must be a whole number from 1 to 64, not '2.5'", nullptr},
        ArgumentRow{"object_value", "stop", R"({"set":{"a":1}})",
                    R"(SET must be a text or a number, not {"a":1})", nullptr},
        ArgumentRow{"no_gbk_form", "text", "{\"set\":\"1\",\"text\":\"\xF0\x9F\x98\x80\"}",
                    "TEXT holds characters that the emulator's tools cannot receive (code page "
                    "936)",
                    nullptr},
        ArgumentRow{"stand_in_both", "install", R"({"set":"1","apk":"a.apk","package":"com.a"})",
                    "give APK or -p PACKAGE, not both", nullptr},
        ArgumentRow{"stand_in_neither", "install", R"({"set":"1"})", "missing APK (or -p PACKAGE)",
                    nullptr},
        ArgumentRow{"by_package", "install", R"({"set":"1","package":"com.a"})", nullptr, "com.a"},
        ArgumentRow{"adb_words", "adb", R"({"set":"1","args":["shell","--help"]})", nullptr,
                    "shell"},
        ArgumentRow{"adb_no_words", "adb", R"({"set":"1","args":[]})", "missing ARGS", nullptr},
        ArgumentRow{"adb_not_texts", "adb", R"({"set":"1","args":[1]})",
                    "ARGS must be an array of texts", nullptr},
        ArgumentRow{"default_argument", "create", R"({})", nullptr, "51"},
        ArgumentRow{"required_option", "clone", R"({"count":2})", "missing --master INDEX",
                    nullptr},
        ArgumentRow{"choice", "clone", R"({"master":0,"count":1,"console":"7.2.3"})",
                    "--console must be 7.2.1, 7.2.2 or none, not '7.2.3'", nullptr},
        ArgumentRow{"whole_or_word", "clone", R"({"master":0,"count":1,"first":"next"})", nullptr,
                    nullptr},
        ArgumentRow{"deadline_low", "list", R"({"deadline":0.001})", nullptr, nullptr},
        ArgumentRow{"deadline_past_low", "list", R"({"deadline":0})",
                    "--deadline must be a number of seconds from 0.001 to 2147483, not '0'",
                    nullptr},
        ArgumentRow{"null_is_not_given", "stop", R"({"set":"1","parallel":null})", nullptr,
                    nullptr},
        ArgumentRow{"file_inside", "export", R"({"index":1,"file":"sub\\a.ova"})", nullptr,
                    "C:\\farm\\sub\\a.ova"},
        ArgumentRow{"file_climbs_out", "export", R"({"index":1,"file":"..\\a.ova"})",
                    "FILE must be a file inside C:\\farm (the server's --files), not '..\\a.ova'",
                    nullptr},
        ArgumentRow{"file_elsewhere", "export", R"({"index":1,"file":"D:\\farm\\a.ova"})",
                    "FILE must be a file inside C:\\farm (the server's --files), not "
                    "'D:\\farm\\a.ova'",
                    nullptr},
        ArgumentRow{"file_beside_the_folder", "export", R"({"index":1,"file":"C:\\farmer\\a.ova"})",
                    "FILE must be a file inside C:\\farm (the server's --files), not "
                    "'C:\\farmer\\a.ova'",
                    nullptr},
        ArgumentRow{"file_other_case", "export", R"({"index":1,"file":"c:/FARM/b/../a.ova"})",
                    nullptr, "c:\\FARM\\a.ova"}),
    RowName());

struct PathRow {
    const char* name;
    const char* path;
    const char* inside;  // null: outside
};

class PathInsideTest : public testing::TestWithParam<PathRow> {};

TEST_P(PathInsideTest, StaysInTheFolder) {
    const PathRow& row = GetParam();
    const std::optional<std::string> inside = agent::PathInside("C:\\farm", row.path);
    if (!row.inside) {
        EXPECT_FALSE(inside) << *inside;
    } else {
        ASSERT_TRUE(inside);
        EXPECT_EQ(*inside, row.inside);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PathInsideTest,
    testing::Values(PathRow{"plain", "C:\\farm\\a.png", "C:\\farm\\a.png"},
                    PathRow{"dot", "C:\\farm\\.\\a.png", "C:\\farm\\a.png"},
                    PathRow{"down_and_up", "C:\\farm\\x\\..\\a.png", "C:\\farm\\a.png"},
                    PathRow{"up_and_out", "C:\\farm\\..\\a.png", nullptr},
                    PathRow{"above_the_root", "C:\\..\\..\\farm\\a.png", nullptr},
                    PathRow{"the_folder_itself", "C:\\farm\\", nullptr},
                    PathRow{"a_stream", "C:\\farm\\a.png:x", nullptr},
                    PathRow{"trailing_dot", "C:\\farm\\a.", nullptr},
                    PathRow{"other_drive", "D:\\farm\\a.png", nullptr},
                    PathRow{"prefix_only", "C:\\farm2\\a.png", nullptr}),
    RowName());

// A refusal's verdict is the grammar's, decided once in farm/command/: an agent reads the same
// message the console prints; the console alone adds its command line's usage after it.
struct SameRow {
    const char* name;
    const char* tool;
    const char* arguments;
    std::vector<std::string> words;  // the console's command line for the same
};

class SameRefusalTest : public testing::TestWithParam<SameRow> {};

TEST_P(SameRefusalTest, TheAgentReadsTheConsolesMessageWithoutItsUsageLine) {
    const SameRow& row = GetParam();
    const std::optional<Tool> tool = agent::FindTool(EveryTool(), row.tool);
    ASSERT_TRUE(tool);
    const agent::ReadRequest refused = Read(*tool, Json::parse(row.arguments));
    ASSERT_FALSE(refused.request);
    const ParseOutcome console = ParseFarmArgs(row.words, "1");
    ASSERT_EQ(console.kind, ParseOutcome::Kind::kUsageError);
    EXPECT_EQ(console.text, refused.refusal + " (usage: " + CommandUsage(*tool->verb) + ")");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SameRefusalTest,
    testing::Values(SameRow{"missing_argument", "stop", "{}", {"stop"}},
                    SameRow{"missing_option", "clone", R"({"count":2})", {"clone", "--count", "2"}},
                    SameRow{"needs_another",
                            "start",
                            R"({"set":"1","timeout":5})",
                            {"start", "1", "--timeout", "5"}},
                    SameRow{"stand_in_neither", "install", R"({"set":"1"})", {"install", "1"}},
                    SameRow{"bad_set", "stop", R"({"set":"5-3"})", {"stop", "5-3"}}),
    RowName());

}  // namespace
