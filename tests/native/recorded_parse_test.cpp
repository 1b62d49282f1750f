// The command lines of a recorded corpus, read again: each is taken, refused or answered with
// help exactly as when the corpus was recorded, with the same message byte for byte; and the
// help texts are the recorded ones. A change of wording shows here first.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/farm_args.h"
#include "cli/farm_help.h"
#include "request_description.h"

namespace {

using Json = nlohmann::json;

const char* KindName(ParseOutcome::Kind kind) {
    switch (kind) {
        case ParseOutcome::Kind::kRun:
            return "run";
        case ParseOutcome::Kind::kHelp:
            return "help";
        case ParseOutcome::Kind::kVersion:
            return "version";
        case ParseOutcome::Kind::kUsageError:
            return "usage";
    }
    return "?";
}

Json ReadJson(const std::string& path) {
    std::ifstream in(path);
    return Json::parse(in);
}

TEST(RecordedParse, EveryCommandLineReadsAsRecorded) {
    std::ifstream in(std::string(RECORDED_DIR) + "/parse_corpus.jsonl");
    ASSERT_TRUE(in) << RECORDED_DIR;
    const Json help = ReadJson(std::string(RECORDED_DIR) + "/help.json");
    std::string line;
    size_t rows = 0;
    size_t wrong = 0;
    while (std::getline(in, line) && wrong < 20) {
        const Json row = Json::parse(line);
        const std::vector<std::string> args = row["args"];
        const std::string shown = Json(args).dump();
        const ParseOutcome outcome = ParseFarmArgs(args, "9.9.9");
        ++rows;
        const std::string kind = KindName(outcome.kind);
        if (outcome.kind == ParseOutcome::Kind::kRun) {
            EXPECT_EQ(row["request"].get<std::string>(), DescribeRequest(outcome.request)) << shown;
        } else if (outcome.kind == ParseOutcome::Kind::kHelp) {
            // "help:program" or "help:COMMAND": which recorded help text it was.
            const std::string recorded = row["text"].get<std::string>();
            const std::string key(recorded.begin() + 5, recorded.end());
            EXPECT_EQ(help[key].get<std::string>(), outcome.text) << shown;
        } else {
            EXPECT_EQ(row["text"].get<std::string>(), outcome.text) << shown;
        }
        EXPECT_EQ(row["kind"].get<std::string>(), kind) << shown;
        EXPECT_EQ(row["json"].get<bool>(), AsksForJson(args)) << shown;
        if (outcome.kind == ParseOutcome::Kind::kUsageError) {
            EXPECT_EQ(row["request_json"].get<bool>(), outcome.request.json) << shown;
        }
        if (testing::Test::HasFailure()) ++wrong;
    }
    EXPECT_GT(rows, 6000u);
}

TEST(RecordedParse, HelpTextsAreTheRecordedOnes) {
    const Json help = ReadJson(std::string(RECORDED_DIR) + "/help.json");
    for (const auto& [key, text] : help.items()) {
        const std::string made = key == "program" ? ProgramHelp("9.9.9") : CommandHelp(key);
        EXPECT_EQ(text.get<std::string>(), made) << key;
    }
}

}  // namespace
