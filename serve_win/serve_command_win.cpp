#include "serve_win/serve_command_win.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "agent/farm_tool_host.h"
#include "agent/serve_options.h"
#include "app_version.h"
#include "cli/console_io_win.h"
#include "cli/farm_output.h"
#include "cli/mcp_serve_win.h"
#include "cli/system_facts_win.h"
#include "farm/run/farm_system_win.h"
#include "serve/mcp_http.h"
#include "serve/request_log.h"
#include "serve_win/farm_page_win.h"
#include "serve_win/http_server_win.h"
#include "serve_win/interface_addresses_win.h"
#include "serve_win/owner_token_win.h"
#include "text/gbk_text.h"
#include "win/wide_text.h"

namespace {

std::atomic<HttpServer*> g_server{nullptr};

void Say(const std::string& gbk) {
    WinFarmConsole().PrintError("MEmuFarm serve: " + gbk + "\n");
}

// A start that cannot serve: the reason, and with --json the one failure document a script
// reads, as for any other command that ends before it ran.
int Refuse(const FarmRequest& request, int exit_code, const std::string& problem) {
    if (request.json) {
        WinFarmConsole console;
        PrintFailure(exit_code, problem, true, console);
    } else {
        Say(problem);
    }
    return exit_code;
}

void StopAtFirstInterrupt() {
    Say("stopping: no new request runs, what runs is waited for (Ctrl+C again ends at once and "
        "leaves the tools running)");
    if (HttpServer* server = g_server.load()) server->Stop();
}

void EndAtSecondInterrupt() {
    Say("ended by a second Ctrl+C; the tools that were running are left running");
}

// The console closing, the user logging off, Windows shutting down: stop as at Ctrl+C, within
// the moment Windows gives.
BOOL WINAPI OnSessionEnd(DWORD event) {
    if (event != CTRL_CLOSE_EVENT && event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT)
        return FALSE;
    if (HttpServer* server = g_server.load()) server->Stop();
    Sleep(4000);  // Run() returns meanwhile; Windows ends the process after it
    return TRUE;
}

// Seconds on the steady clock, as the page's bookkeeping counts them.
double PageClock() {
    return static_cast<double>(GetTickCount64()) / 1000;
}

std::string UtcNow() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond);
    return text;
}

// Each request's line (and each of the page's health rounds) to standard error, and appended
// to --log when given.
class RequestLog {
public:
    explicit RequestLog(std::string token) : token_(std::move(token)) {}
    ~RequestLog() {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    }
    bool Open(const std::string& path, std::string* problem) {
        file_ = CreateFileW(WideFromGbk(path).c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file_ == INVALID_HANDLE_VALUE) {
            *problem = "--log: cannot open " + path + " (Windows error " +
                       std::to_string(GetLastError()) + ")";
            return false;
        }
        return true;
    }
    void Write(serve::LogEntry entry) {
        entry.time = UtcNow();
        WriteLine(serve::LogLine(entry, token_) + "\r\n");
    }

    void WriteRound(serve::RoundEntry round) {
        round.time = UtcNow();
        WriteLine(serve::RoundLine(round, token_) + "\r\n");
    }

private:
    void WriteLine(const std::string& line) {
        std::lock_guard lock(mutex_);
        WinFarmConsole().PrintError(line);
        if (file_ != INVALID_HANDLE_VALUE) {
            DWORD wrote = 0;
            WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &wrote, nullptr);
        }
    }

    const std::string token_;
    std::mutex mutex_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

// What the MCP sessions note for the owner (never for a client).
class McpNotes : public mcp::Diagnostics {
public:
    void Note(std::string_view text) override { Say("mcp: " + std::string(text)); }
};

}  // namespace

int ServeHttp(const FarmRequest& given) {
    FarmRequest request = given;
    if (request.mcp_files) request.mcp_files = FullPath(*request.mcp_files);
    std::string problem;
    std::optional<agent::HostOptions> options = agent::ServeOptions(request, &problem);
    if (!options) return Refuse(request, kExitUsage, problem);
    const std::optional<serve::ListenAddress> listen = serve::ParseListen(request.listen);
    if (!listen)
        return Refuse(request, kExitUsage,
                      "--listen: " + gbk::Quoted(request.listen) +
                          " is no ADDR:PORT (an IPv4 address, [IPv6] or localhost, and a port "
                          "from 1 to 65535)");
    const OwnerToken token = LoadOwnerToken(request.token_file);
    if (!token.token) return Refuse(request, kExitUsage, token.problem);
    RequestLog log(*token.token);
    if (request.log_file && !log.Open(*request.log_file, &problem))
        return Refuse(request, kExitUsage, problem);

    WinFarmSystem::CatchInterrupts(StopAtFirstInterrupt, EndAtSecondInterrupt);
    WinFarmSystem system;
    int code = kExitOk;
    const std::optional<std::string> install = InstallFoundOnce(request, system, &problem, &code);
    if (!install) return Refuse(request, code, problem);
    options->install_dir = *install;
    options->gbk_of = [](std::string_view utf8) { return GbkFromWideExact(WideFromUtf8(utf8)); };
    options->full_path = FullPath;

    agent::StartGate gate(options->parallel);
    serve::RunService service{system, gate, *options, {options->limits.files, APP_VERSION}};

    // POST /mcp: the tools of MEmuFarm mcp, under the same limits, one session per agent.
    agent::HostOptions tool_options = *options;
    tool_options.capture_dir = McpCaptureFolder();
    agent::FarmToolHost tools(system, tool_options);
    McpNotes notes;
    serve::McpHttpSettings mcp_settings;
    mcp_settings.limits.max_sessions = static_cast<std::size_t>(request.max_sessions);
    mcp_settings.limits.idle_seconds = static_cast<std::int64_t>(request.session_idle_s);
    mcp_settings.session.server_name = "MEmuFarm";
    mcp_settings.session.server_version = APP_VERSION;
    mcp_settings.session.max_calls = static_cast<std::size_t>(request.max_calls);
    mcp_settings.now = [] { return static_cast<std::int64_t>(GetTickCount64() / 1000); };
    mcp_settings.run_apart = [](std::function<void()> work) {
        try {
            std::thread(work).detach();
        } catch (const std::system_error&) {
            work();
        }
    };
    serve::McpHttp mcp(tools, notes, SystemRandomSource(), std::move(mcp_settings));

    HttpServerSettings settings;
    settings.door.hosts.listen = *listen;
    if (request.allow_hosts)
        for (const std::string& name : gbk::Split(*request.allow_hosts, ","))
            if (!gbk::Trim(name).empty())
                settings.door.hosts.allow_hosts.push_back(gbk::Trim(name));
    if (serve::ListensEverywhere(*listen))
        settings.door.hosts.interface_addresses = InterfaceAddresses();
    settings.door.token = *token.token;
    settings.max_calls = request.max_calls;
    settings.run = [&service](const std::string& body, std::stop_token stop) {
        return serve::AnswerRun(body, service, stop);
    };
    settings.log = [&log](const serve::LogEntry& entry) { log.Write(entry); };
    settings.utf8 = [&system](std::string_view gbk) { return system.Utf8FromGbk(gbk); };
    settings.mcp = &mcp;
    settings.ending = [&mcp] { mcp.EndAll(); };

    // The farm page: its sessions let a browser in by cookie, its loops work while it is open.
    serve::PageService page(
        {request.health_interval_s, request.thumb_interval_s, request.read_only},
        {request.thumb_interval_s, kPageFocusSeconds, kPageCapturesAtOnce}, SystemRandomSource());
    settings.door.session_valid = [&page](std::string_view id) {
        return page.Sessions().Valid(id);
    };
    settings.door.csrf_valid = [&page](std::string_view id, std::string_view csrf) {
        return page.Sessions().CsrfMatches(id, csrf);
    };
    settings.page = [&page](const serve::RequestHead& head, const serve::DoorDecision& decision) {
        return page.Answer(head, decision, PageClock());
    };
    const std::string capture_dir = PageCaptureFolder();
    std::optional<FarmPageLoops> loops;  // once the address is ours: a refused one lists nothing

    HttpServer server(std::move(settings));
    if (!server.Listen(*listen, &problem)) return Refuse(request, kExitFailed, problem);
    loops.emplace(page, service, system, options->install_dir, capture_dir,
                  request.health_interval_s, request.thumb_interval_s,
                  [&log](serve::RoundEntry round) { log.WriteRound(std::move(round)); });
    serve::ListenAddress shown = *listen;
    shown.port = server.Port();
    g_server = &server;
    SetConsoleCtrlHandler(OnSessionEnd, TRUE);
    // The one place the token is shown: standard output, for the owner.
    WinFarmConsole().Print(serve::StartLine(shown, *token.token) + "\n");
    Say("serving on " + shown.host + ":" + std::to_string(shown.port) +
        " until Ctrl+C; each request is logged here");
    if (WinFarmSystem().StopRequested()) server.Stop();
    server.Run();
    g_server = nullptr;
    mcp.EndAll();
    if (!tool_options.capture_dir.empty())
        RemoveDirectoryW(WideFromGbk(tool_options.capture_dir).c_str());
    loops->Stop();
    if (!capture_dir.empty()) RemoveDirectoryW(WideFromGbk(capture_dir).c_str());
    return kExitOk;
}
