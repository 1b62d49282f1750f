#include "cli/farm_output.h"

#include <deque>
#include <memory>

#include "farm/report/health_format.h"
#include "farm/report/outcome_document.h"
#include "farm/report/outcome_text.h"

namespace {

// How many of the last heal actions the live view keeps under the table.
constexpr size_t kShownHealEvents = 5;

using HealLines = std::deque<std::string>;

Utf8Of ConsoleUtf8(FarmConsole& console) {
    return [&console](std::string_view gbk) { return console.Utf8FromGbk(gbk); };
}

void Write(const std::vector<Printout>& printed, FarmConsole& console) {
    for (const Printout& piece : printed) {
        switch (piece.stream) {
            case Printout::Stream::kOut:
                console.Print(piece.text);
                break;
            case Printout::Stream::kError:
                console.PrintError(piece.text);
                break;
            case Printout::Stream::kJson:
                console.PrintJson(piece.text);
                break;
        }
    }
}

bool ShowsLiveView(const FarmRequest& request, FarmConsole& console) {
    return console.OutputIsConsole() && !request.json;
}

// A round of --watch: in place on a console, one JSON document per line elsewhere.
void PrintHealthRound(const FarmRequest& request, const HealthRound& round,
                      const HealLines& heal_lines, FarmConsole& console) {
    if (ShowsLiveView(request, console)) {
        console.Redraw(HealthRoundText(round, heal_lines));
        return;
    }
    console.PrintJson(
        DocumentText(HealthDocument(round.report, round.exit_code, round.failure,
                                    ConsoleUtf8(console), round.heal ? &*round.heal : nullptr)) +
        "\n");
}

// A heal action: kept for the live view's next redraw, or one JSON line of its own.
void PrintHealEvent(const FarmRequest& request, const HealEvent& event, HealLines& heal_lines,
                    FarmConsole& console) {
    if (ShowsLiveView(request, console)) {
        heal_lines.push_back(HealEventLine(event));
        if (heal_lines.size() > kShownHealEvents) heal_lines.pop_front();
    } else {
        console.PrintJson(DocumentText(HealEventDocument(event, ConsoleUtf8(console))) + "\n");
    }
}

}  // namespace

void PrintInformation(const std::string& key, const std::string& text, bool json,
                      FarmConsole& console) {
    Write(InformationReport(key, text, json, ConsoleUtf8(console)), console);
}

void PrintFailure(int exit_code, const std::string& message, bool json, FarmConsole& console) {
    Write(FailureReport(exit_code, message, json, ConsoleUtf8(console)), console);
}

void PrintOutcome(const FarmRequest& request, const FarmOutcome& outcome, FarmConsole& console) {
    if (request.watch_s && std::holds_alternative<HealthRound>(outcome.what))
        console.EndRedraw();  // the rounds are shown already
    Write(OutcomeReport(request, outcome, ConsoleUtf8(console)), console);
}

FarmProgress ProgressPrinter(const FarmRequest& request, FarmConsole& console) {
    FarmProgress progress;
    // health --watch prints every round, as JSON lines with --json.
    auto heal_lines = std::make_shared<HealLines>();
    progress.health_round = [&request, &console, heal_lines](const HealthRound& round) {
        PrintHealthRound(request, round, *heal_lines, console);
    };
    // The heal actions, as they end, between the rounds.
    progress.heal_event = [&request, &console, heal_lines](const HealEvent& event) {
        PrintHealEvent(request, event, *heal_lines, console);
    };
    if (request.json) return progress;
    progress.log = [&console](const std::string& text) { console.Print(text); };
    progress.vm_finished = [&console](const VmResult& result) {
        console.Print(ResultLine(result) + "\n");
    };
    return progress;
}
