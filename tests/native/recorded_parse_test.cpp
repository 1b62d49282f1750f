// The command lines of a recorded corpus, read again: each is taken, refused or answered with
// help exactly as when the corpus was recorded, with the same message byte for byte; and the
// help texts are the recorded ones. A change of wording shows here first. With
// MEMUFARM_RECORD=1 in the environment the corpus is written anew from what the parse gives
// now (for a change of behaviour that is meant, reviewed in the diff).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/farm_args.h"
#include "cli/farm_help.h"
#include "farm/command/verb_rows.h"
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
    std::string recorded_anew;
    while (std::getline(in, line)) {
        const Json row = Json::parse(line);
        const std::vector<std::string> args = row["args"];
        const ParseOutcome outcome = ParseFarmArgs(args, "9.9.9");
        ++rows;
        // What the row reads as now, in the recorded form.
        nlohmann::ordered_json now;
        now["args"] = args;
        now["kind"] = KindName(outcome.kind);
        now["json"] = AsksForJson(args);
        if (outcome.kind == ParseOutcome::Kind::kRun) {
            now["request"] = DescribeRequest(outcome.request);
        } else if (outcome.kind == ParseOutcome::Kind::kHelp) {
            // "help:program" or "help:COMMAND": which recorded help text it was.
            now["text"] = "help:?";
            for (const auto& [key, text] : help.items())
                if (text.get<std::string>() == outcome.text) now["text"] = "help:" + key;
        } else {
            now["text"] = outcome.text;
        }
        if (outcome.kind == ParseOutcome::Kind::kUsageError)
            now["request_json"] = outcome.request.json;
        recorded_anew += now.dump() + "\n";
        if (Json::parse(now.dump()) != row && ++wrong <= 20)
            ADD_FAILURE() << "recorded: " << row.dump() << "\n     now: " << now.dump();
    }
    EXPECT_GT(rows, 6000u);
    if (std::getenv("MEMUFARM_RECORD")) {
        in.close();
        std::ofstream(std::string(RECORDED_DIR) + "/parse_corpus.jsonl") << recorded_anew;
        return;
    }
    EXPECT_EQ(wrong, 0u);
}

TEST(RecordedParse, HelpTextsAreTheRecordedOnes) {
    if (std::getenv("MEMUFARM_RECORD")) {
        // The program's help and every command's, in the rows' order, written anew.
        nlohmann::ordered_json anew;
        anew["program"] = ProgramHelp("9.9.9");
        for (const VerbRow& verb : AllVerbs()) anew[verb.name] = CommandHelp(verb.name);
        std::ofstream(std::string(RECORDED_DIR) + "/help.json") << anew.dump(1) << "\n";
    }
    const Json help = ReadJson(std::string(RECORDED_DIR) + "/help.json");
    for (const auto& [key, text] : help.items()) {
        const std::string made = key == "program" ? ProgramHelp("9.9.9") : CommandHelp(key);
        EXPECT_EQ(text.get<std::string>(), made) << key;
    }
}

}  // namespace
