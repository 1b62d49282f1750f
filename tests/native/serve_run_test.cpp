// POST /api/run: the body's one shape, the commands refused before anything runs (with the
// console's own parse, paths kept inside --files), and the status of what ran.
#include "serve/run_request.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "row_name.h"

namespace {

// UTF-8 to GBK for ASCII only; records what it was given.
struct FakeGbk {
    std::vector<std::string> given;
    serve::GbkOf Function() {
        return [this](std::string_view utf8) -> std::optional<std::string> {
            given.emplace_back(utf8);
            for (char c : utf8)
                if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
            return std::string(utf8);
        };
    }
};

serve::RunSettings WithFiles() {
    return {.files = std::string("C:\\files"), .version = "1.1.0"};
}

struct BodyRow {
    const char* name;
    std::string body;
    int status;
    const char* message;  // a part of the message; null when it may run
};

class ServeRunBody : public testing::TestWithParam<BodyRow> {};

TEST_P(ServeRunBody, TakesOnlyAnArrayOfStrings) {
    const BodyRow& row = GetParam();
    FakeGbk gbk;
    const serve::RunCheck check = serve::CheckRunBody(row.body, WithFiles(), gbk.Function());
    EXPECT_EQ(check.status, row.status) << check.message;
    ExpectReason(check.status ? std::optional<std::string>(check.message) : std::nullopt,
                 row.message);
}

INSTANTIATE_TEST_SUITE_P(
    ServeRunBodyRows, ServeRunBody,
    testing::Values(
        BodyRow{"argv", R"({"argv": ["start", "all", "--boot"]})", 0, nullptr},
        BodyRow{"blanks_around", " \r\n{ \"argv\" : [ \"list\" ] }\n", 0, nullptr},
        BodyRow{"empty_argv", R"({"argv": []})", 422, "no command given"},
        BodyRow{"empty_body", "", 400, "not JSON"},
        BodyRow{"not_json", "argv=start", 400, "not JSON"},
        BodyRow{"cut_short", R"({"argv": ["list")", 400, "not JSON"},
        BodyRow{"trailing_text", R"({"argv": ["list"]} x)", 400, "not JSON"},
        BodyRow{"two_documents", R"({"argv": ["list"]}{"argv": ["list"]})", 400, "not JSON"},
        BodyRow{"array", R"(["list"])", 400, "the body is an array, not an object"},
        BodyRow{"string", R"("list")", 400, "the body is a string"},
        BodyRow{"null", "null", 400, "the body is null"},
        BodyRow{"empty_object", "{}", 400, "no argv"},
        BodyRow{"argv_string", R"({"argv": "start all"})", 400, "argv is a string"},
        BodyRow{"argv_object", R"({"argv": {"0": "list"}})", 400, "argv is an object"},
        BodyRow{"argv_null", R"({"argv": null})", 400, "argv is null"},
        BodyRow{"word_number", R"({"argv": ["start", 3]})", 400, "argv holds a number"},
        BodyRow{"word_bool", R"({"argv": ["list", true]})", 400, "argv holds a true or false"},
        BodyRow{"word_array", R"({"argv": [["list"]]})", 400, "argv holds an array"},
        BodyRow{"word_object", R"({"argv": [{}]})", 400, "argv holds an object"},
        BodyRow{"other_key", R"({"argv": ["list"], "cwd": "C:\\"})", 400, "other than argv"},
        BodyRow{"argv_twice", R"({"argv": ["list"], "argv": ["stopall"]})", 400, "twice"},
        BodyRow{"deep_nesting", std::string(100000, '[').append(100000, ']'), 400,
                "the body is an array"},
        BodyRow{"deep_nesting_in_argv",
                std::string(R"({"argv": )") + std::string(100000, '[').append(100000, ']') + "}",
                400, "argv holds an array"},
        BodyRow{"invalid_utf8", "{\"argv\": [\"list\xC3\x28\"]}", 400, "not JSON"},
        BodyRow{"zero_byte", std::string("{\"argv\": [\"li\0st\"]}", 19), 400, "not JSON"},
        BodyRow{"not_gbk", R"({"argv": ["input", "1", "h\u00e9"]})", 422, "argv[2]"},
        BodyRow{"words_at_limit",
                R"({"argv": ["adb", "1")" +
                    [] {
                        std::string words;
                        for (int i = 0; i < 4094; ++i) words += ", \"x\"";
                        return words;
                    }() +
                    "]}",
                // Read whole (not "more than 4096 words"), then refused as adb is never served.
                422, "not run through the web service"},
        BodyRow{"words_over_limit",
                R"({"argv": ["adb", "1")" +
                    [] {
                        std::string words;
                        for (int i = 0; i < 4095; ++i) words += ", \"x\"";
                        return words;
                    }() +
                    "]}",
                400, "more than 4096 words"}),
    RowName());

struct ArgvRow {
    const char* name;
    std::vector<std::string> argv;
    const char* message;              // a part of the 422's message; null when it may run
    std::optional<std::string> text;  // a text of the request, as it will run
};

class ServeRunRefusal : public testing::TestWithParam<ArgvRow> {};

std::string Body(const std::vector<std::string>& argv) {
    return nlohmann::json{{"argv", argv}}.dump();
}

TEST_P(ServeRunRefusal, RefusesBeforeAnythingRuns) {
    const ArgvRow& row = GetParam();
    FakeGbk gbk;
    const serve::RunCheck check = serve::CheckRunBody(Body(row.argv), WithFiles(), gbk.Function());
    EXPECT_EQ(check.status, row.message ? 422 : 0) << check.message;
    ExpectReason(check.status ? std::optional<std::string>(check.message) : std::nullopt,
                 row.message);
    EXPECT_EQ(gbk.given, row.argv);  // every word converted, none twice
    if (row.text) {
        const std::vector<std::string>& texts = check.parsed.request.texts;
        EXPECT_NE(std::find(texts.begin(), texts.end(), *row.text), texts.end()) << *row.text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    ServeRunRefusalRows, ServeRunRefusal,
    testing::Values(
        ArgvRow{"list", {"list"}, nullptr, std::nullopt},
        ArgvRow{"install_dir_first",
                {"--install-dir", "C:\\files\\m", "list"},
                "--install-dir",
                std::nullopt},
        ArgvRow{
            "install_dir_last", {"list", "--install-dir", "C:\\m"}, "--install-dir", std::nullopt},
        ArgvRow{
            "install_dir_equals", {"list", "--install-dir=C:\\m"}, "--install-dir", std::nullopt},
        ArgvRow{"install_dir_after_dashes",
                {"text", "1", "--", "--install-dir"},
                "--install-dir",
                std::nullopt},
        ArgvRow{"health_once", {"health", "all"}, nullptr, std::nullopt},
        ArgvRow{"health_watch", {"health", "all", "--watch", "2"}, "health --watch", std::nullopt},
        ArgvRow{"health_watch_heal",
                {"health", "--watch", "2", "--heal"},
                "health --watch",
                std::nullopt},
        ArgvRow{"mcp", {"mcp"}, "MEmuFarm mcp is not run", std::nullopt},
        ArgvRow{"serve",
                {"serve", "--listen", "0.0.0.0:80"},
                "MEmuFarm serve is not run",
                std::nullopt},
        ArgvRow{"serve_after_global", {"--deadline", "5", "serve"}, "MEmuFarm serve", std::nullopt},
        ArgvRow{"mcp_after_json", {"--json", "mcp"}, "MEmuFarm mcp", std::nullopt},
        ArgvRow{"serve_as_a_text", {"text", "1", "serve"}, nullptr, std::nullopt},
        ArgvRow{"unknown_command", {"frobnicate"}, "frobnicate", std::nullopt},
        ArgvRow{"usage_error", {"start"}, "missing SET", std::nullopt},
        // Paths, by their rows' kind, kept inside --files and made full there.
        ArgvRow{
            "file_inside", {"screenshot", "1", "C:\\files\\s.png"}, nullptr, "C:\\files\\s.png"},
        ArgvRow{"file_relative",
                {"screenshot", "1", "shots/s.png"},
                nullptr,
                "C:\\files\\shots\\s.png"},
        ArgvRow{"file_outside",
                {"screenshot", "1", "C:\\Windows\\s.png"},
                "'C:\\Windows\\s.png' is not inside the files folder 'C:\\files'",
                std::nullopt},
        ArgvRow{
            "file_prefix_trick", {"install", "1", "C:\\files2\\a.apk"}, "not inside", std::nullopt},
        ArgvRow{"file_climbs_out", {"import", "..\\x.ova"}, "not inside", std::nullopt},
        ArgvRow{"option_path_inside", {"health", "--prom", "m.prom"}, nullptr, std::nullopt},
        ArgvRow{
            "option_path_outside", {"health", "--prom", "C:\\m.prom"}, "not inside", std::nullopt},
        ArgvRow{"path_looking_text", {"text", "1", "C:\\Windows"}, nullptr, "C:\\Windows"}),
    RowName());

TEST(ServeRun, NamesNoPathWithoutAFilesFolder) {
    FakeGbk gbk;
    const serve::RunSettings settings{.files = std::nullopt, .version = "1.1.0"};
    const serve::RunCheck refused = serve::CheckRunBody(
        Body({"screenshot", "1", "C:\\files\\s.png"}), settings, gbk.Function());
    EXPECT_EQ(refused.status, 422);
    ExpectReason(refused.message, "started without --files");
    EXPECT_EQ(serve::CheckRunBody(Body({"list"}), settings, gbk.Function()).status, 0);
}

TEST(ServeRun, RefusalIsTheConsolesFailureDocumentWithItsExitCode) {
    FakeGbk gbk;
    const serve::RunCheck check = serve::CheckRunBody(Body({"mcp"}), WithFiles(), gbk.Function());
    const Document document =
        serve::RefusalDocument(check, [](std::string_view text) { return std::string(text); });
    EXPECT_EQ(document["ok"], false);
    EXPECT_EQ(document["error"]["exit_code"], 2);
    EXPECT_EQ(document["exit_code"], 2);
    EXPECT_EQ(document["error"]["message"], check.message);
    EXPECT_EQ(serve::CommandOf(check), "mcp");
}

struct StatusRow {
    const char* name;
    bool ok;
    int exit_code;
    int status;
};

class ServeRunStatus : public testing::TestWithParam<StatusRow> {};

TEST_P(ServeRunStatus, ComesFromOkAndTheExitCode) {
    const StatusRow& row = GetParam();
    EXPECT_EQ(serve::RunStatus(row.ok, row.exit_code), row.status);
    Document document = {{"ok", row.ok}};
    const serve::RunReply reply = serve::ReplyToRun(document, row.exit_code);
    EXPECT_EQ(reply.status, row.status);
    EXPECT_EQ(reply.body["exit_code"], row.exit_code);
}

INSTANTIATE_TEST_SUITE_P(
    ServeRunStatusRows, ServeRunStatus,
    testing::Values(StatusRow{"success", true, 0, 200}, StatusRow{"answered_no", true, 1, 200},
                    StatusRow{"failed", false, 1, 500}, StatusRow{"usage", false, 2, 422},
                    StatusRow{"not_found", false, 3, 503}, StatusRow{"deadline", false, 4, 504},
                    StatusRow{"unknown_code", false, 9, 500},
                    StatusRow{"negative_code", false, -1, 500}),
    RowName());

TEST(ServeRun, KeepsAnExitCodeTheDocumentHasAndAddsItLast) {
    Document failed = {{"ok", false}, {"error", {{"exit_code", 4}, {"message", "deadline"}}}};
    const serve::RunReply reply = serve::ReplyToRun(failed, 4);
    EXPECT_EQ(reply.status, 504);
    EXPECT_EQ(reply.body.dump(),
              R"({"ok":false,"error":{"exit_code":4,"message":"deadline"},"exit_code":4})");
    Document answered = {{"ok", true}, {"exit_code", 1}};
    EXPECT_EQ(serve::ReplyToRun(answered, 1).body.dump(), R"({"ok":true,"exit_code":1})");
    // A document without "ok" is no success.
    EXPECT_EQ(serve::ReplyToRun(Document::array(), 1).status, 500);
}

}  // namespace
