// MEmuFarm: the console companion. Reads one command from its arguments, checks it before
// anything runs, runs it on the shared core and prints what came of it.
#include <windows.h>

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app_version.h"
#include "cli/console_io_win.h"
#include "cli/farm_args.h"
#include "cli/farm_output.h"
#include "cli/mcp_serve_win.h"
#include "cli/system_facts_win.h"
#include "farm/run/farm_run.h"
#include "farm/run/farm_system_win.h"
#include "process/run_console_win.h"
#include "serve_win/serve_command_win.h"
#include "win/dll_search.h"
#include "win/wide_text.h"

namespace {

bool g_json = false;
// What is printed once the command has run, or instead of it at a second Ctrl+C: one of the
// two, never both, never interleaved.
std::mutex g_output;
bool g_finished = false;

void SayStopping() {
    WinFarmConsole().PrintError(
        "MEmuFarm: stopping: nothing new is started, what runs is waited for (Ctrl+C again ends "
        "at once and leaves the tools running).\n");
}

// A second Ctrl+C ends the program at once; with --json it still prints its one document.
void SayEndingAtOnce() {
    std::lock_guard<std::mutex> lock(g_output);
    RestoreConsoleScreen();
    if (g_finished) return;
    g_finished = true;
    WinFarmConsole console;
    PrintFailure(kExitFailed,
                 "ended by a second Ctrl+C; the tools that were running are left running", g_json,
                 console);
}

// The progress printer, one print at a time with the last words above.
FarmProgress Guarded(FarmProgress progress) {
    auto guard = [](auto print) {
        return [print](const auto& what) {
            std::lock_guard<std::mutex> lock(g_output);
            if (!g_finished) print(what);
        };
    };
    if (progress.log) progress.log = guard(progress.log);
    if (progress.vm_finished) progress.vm_finished = guard(progress.vm_finished);
    if (progress.health_round) progress.health_round = guard(progress.health_round);
    if (progress.heal_event) progress.heal_event = guard(progress.heal_event);
    return progress;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    LoadDllsFromSystemFolderOnly();
    if (argc == 3 && std::wstring_view(argv[1]) == kConsoleKeeperWord)
        return KeepConsoleFor(argv[2]);
    WinFarmConsole console;

    std::string bad_argument;
    std::optional<std::vector<std::string>> args = ArgumentsAsGbk(argc, argv, &bad_argument);
    if (!args) {
        // The arguments that are no GBK text stand in as empty ones: only --json matters here.
        std::vector<std::string> words;
        for (int i = 1; i < argc; ++i) words.push_back(GbkFromWideExact(argv[i]).value_or(""));
        PrintFailure(kExitUsage, bad_argument, AsksForJson(words), console);
        return kExitUsage;
    }

    ParseOutcome parsed = ParseFarmArgs(*args, APP_VERSION, FullPath);
    switch (parsed.kind) {
        case ParseOutcome::Kind::kHelp:
            PrintInformation("help", parsed.text, AsksForJson(*args), console);
            return kExitOk;
        case ParseOutcome::Kind::kVersion:
            if (AsksForJson(*args)) {
                PrintInformation("version", APP_VERSION, true, console);
            } else {
                console.Print(parsed.text);
            }
            return kExitOk;
        case ParseOutcome::Kind::kUsageError:
            PrintFailure(kExitUsage, parsed.text, parsed.request.json || AsksForJson(*args),
                         console);
            return kExitUsage;
        case ParseOutcome::Kind::kRun:
            break;
    }
    FarmRequest& request = parsed.request;
    JoinARunConsole();
    if (request.verb->name == std::string_view("mcp")) return ServeMcp(request);
    if (request.verb->name == std::string_view("serve")) return ServeHttp(request);

    g_json = request.json;
    WinFarmSystem::CatchInterrupts(SayStopping, SayEndingAtOnce);
    WinFarmSystem system;
    const FarmOutcome outcome =
        RunFarm(request, system, Guarded(ProgressPrinter(request, console)));
    std::lock_guard<std::mutex> lock(g_output);
    if (g_finished) return kExitFailed;
    g_finished = true;
    PrintOutcome(request, outcome, console);
    return outcome.exit_code;
}
