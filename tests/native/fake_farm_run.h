// A run of the console companion against the fake system, printed to a console that keeps
// what it was given.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cli/farm_args.h"
#include "cli/farm_console.h"
#include "cli/farm_output.h"
#include "fake_farm_system.h"
#include "farm/run/farm_run.h"

class FakeConsole : public FarmConsole {
public:
    std::string out, err, json;
    void Print(std::string_view text) override { out += text; }
    void PrintError(std::string_view text) override { err += text; }
    void PrintJson(std::string_view utf8) override { json += utf8; }
    std::string Utf8FromGbk(std::string_view text) override { return std::string(text); }
};

struct Farm {
    FakeFarmSystem system;
    FakeConsole console;
    // Replies by a part of the line; lines matching none succeed silently.
    std::vector<std::pair<std::string, ToolRun>> replies;

    static constexpr int kNotRun = -1;  // Run's answer when the line was refused

    Farm() {
        system.tools.answer = [this](const std::string& line) {
            for (const auto& [part, reply] : replies)
                if (line.find(part) != std::string::npos) return reply;
            return Answer("");
        };
    }

    int Run(const std::vector<std::string>& args) {
        const ParseOutcome parsed = ParseFarmArgs(args, "1");
        // A refused line fails its own test only: the request it left is no request to run.
        if (parsed.kind != ParseOutcome::Kind::kRun) {
            ADD_FAILURE() << "refused: " << parsed.text;
            return kNotRun;
        }
        const FarmOutcome outcome =
            RunFarm(parsed.request, system, ProgressPrinter(parsed.request, console));
        PrintOutcome(parsed.request, outcome, console);
        return outcome.exit_code;
    }
};
