// MEmuFarm: the console companion. Reads one command from its arguments, checks it before
// anything runs, then runs it on the shared control module and one-key run.
#include <windows.h>

#include <optional>
#include <string>

#include "app_version.h"
#include "cli/console_io_win.h"
#include "cli/console_platform_win.h"
#include "cli/farm_args.h"
#include "cli/farm_run.h"
#include "cli/farm_texts.h"
#include "cli/recording_platform.h"
#include "cli/system_facts_win.h"
#include "install/console_build_store_win.h"
#include "process/command_runner_win.h"
#include "win/dll_search.h"

namespace {

// Our own texts use LF; a console or a Windows file reads CR LF.
std::string WithCrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

bool AsksForJson(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--") return false;
        if (arg == L"--json") return true;
    }
    return false;
}

// The command runner lets its tools inherit the program's inheritable handles. Our own
// standard handles are kept from them: a tool left running (after --deadline, or one that
// starts a VM) would otherwise hold a caller's output pipe open long after we have ended.
void KeepStandardHandlesToOurselves() {
    for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE handle = GetStdHandle(which);
        if (handle && handle != INVALID_HANDLE_VALUE)
            SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    LoadDllsFromSystemFolderOnly();
    const ULONGLONG start_tick = GetTickCount64();
    WinFarmConsole console;

    std::string bad_argument;
    std::optional<std::vector<std::string>> args = ArgumentsAsGbk(argc, argv, &bad_argument);
    if (!args) return ReportUsageError(bad_argument, AsksForJson(argc, argv), console);

    ParseOutcome parsed = ParseFarmArgs(*args, APP_VERSION);
    switch (parsed.kind) {
        case ParseOutcome::Kind::kHelp:
        case ParseOutcome::Kind::kVersion:
            console.Print(WithCrLf(parsed.text));
            return kExitOk;
        case ParseOutcome::Kind::kUsageError:
            return ReportUsageError(parsed.text, parsed.request.json, console);
        case ParseOutcome::Kind::kRun:
            break;
    }
    FarmRequest& request = parsed.request;
    // Paths given on the command line are the caller's: they are taken from the folder the
    // program started in, before the emulator's folder becomes current.
    if (request.install_dir) request.install_dir = FullPath(*request.install_dir);
    if (std::optional<std::string> refused = PrepareTexts(request, SystemShellFacts(), FullPath))
        return ReportUsageError(*refused, request.json, console);

    KeepStandardHandlesToOurselves();
    SetCommandsInOwnProcessGroup(true);
    if (request.verb == Verb::kClone) WinFarmConsole::CatchInterrupts();

    std::optional<uint64_t> deadline_tick;
    if (request.deadline_ms) deadline_tick = start_tick + *request.deadline_ms;
    ConsolePlatform platform(deadline_tick);
    RecordingPlatform recorder(platform);
    EmulatorControl control(recorder);
    ProgramBuildStore builds;
    AtomicFileReplacer files;
    FarmServices services{platform, recorder, control, builds, files, console};
    return RunFarm(request, services);
}
