#include "cli/mcp_serve_win.h"

#include <windows.h>

#include <string>

#include "agent/farm_tool_host.h"
#include "agent/serve_options.h"
#include "app_version.h"
#include "cli/system_facts_win.h"
#include "farm/run/farm_system_win.h"
#include "mcp/stdio_server.h"
#include "win/wide_text.h"

namespace {

// Raw bytes on a standard handle: no code page, no text mode; each write goes out whole.
class HandleInput : public mcp::ByteInput {
public:
    explicit HandleInput(HANDLE handle) : handle_(handle) {}
    std::size_t Read(char* buffer, std::size_t size) override {
        DWORD got = 0;
        const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(size, 1 << 20));
        if (!ReadFile(handle_, buffer, asked, &got, nullptr)) return 0;
        return got;
    }

private:
    HANDLE handle_;
};

class HandleOutput : public mcp::ByteOutput {
public:
    explicit HandleOutput(HANDLE handle) : handle_(handle) {}
    bool Write(std::string_view bytes) override {
        while (!bytes.empty()) {
            DWORD wrote = 0;
            const DWORD size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
            if (!WriteFile(handle_, bytes.data(), size, &wrote, nullptr) || wrote == 0)
                return false;
            bytes.remove_prefix(wrote);
        }
        FlushFileBuffers(handle_);
        return true;
    }

private:
    HANDLE handle_;
};

class StandardError : public mcp::Diagnostics {
public:
    void Note(std::string_view text) override {
        HandleOutput(GetStdHandle(STD_ERROR_HANDLE))
            .Write("MEmuFarm mcp: " + std::string(text) + "\r\n");
    }
};

void Say(const std::string& gbk) {
    StandardError().Note(AnsiFromWide(WideFromGbk(gbk)));
}

}  // namespace

std::string McpCaptureFolder() {
    return CaptureFolder(L"mcp");
}

std::string CaptureFolder(const std::wstring& purpose) {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) return {};
    const std::wstring folder =
        std::wstring(temp) + L"MEmuFarm-" + purpose + L"-" + std::to_wstring(GetCurrentProcessId());
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return {};
    return GbkFromWide(folder) + "\\";
}

std::optional<std::string> InstallFoundOnce(const FarmRequest& request, FarmSystem& system,
                                            std::string* problem, int* exit_code) {
    if (request.install_dir) {
        std::string folder = FullPath(*request.install_dir);
        if (!folder.empty() && folder.back() != '\\') folder += '\\';
        if (!system.FileExists(folder + "memuc.exe")) {
            *problem = *request.install_dir + " holds no memuc.exe";
            *exit_code = kExitNotFound;
            return std::nullopt;
        }
        return folder;
    }
    std::string folder = system.DiscoverInstallDirectory();
    if (folder.empty()) {
        *problem =
            "the emulator was not found (no install folder in the registry, no emulator "
            "shortcut on the desktop); name its folder with --install-dir DIR";
        *exit_code = kExitNotFound;
        return std::nullopt;
    }
    return folder;
}

int ServeMcp(const FarmRequest& given) {
    FarmRequest request = given;
    if (request.mcp_files) request.mcp_files = FullPath(*request.mcp_files);
    std::string problem;
    std::optional<agent::HostOptions> options = agent::ServeOptions(request, &problem);
    if (!options) {
        Say(problem);
        return kExitUsage;
    }

    WinFarmSystem system;
    int code = kExitOk;
    std::optional<std::string> install = InstallFoundOnce(request, system, &problem, &code);
    if (!install) {
        Say(problem);
        return code;
    }
    options->install_dir = *install;
    options->capture_dir = McpCaptureFolder();
    options->gbk_of = [](std::string_view utf8) { return GbkFromWideExact(WideFromUtf8(utf8)); };
    options->full_path = FullPath;
    const std::string capture_dir = options->capture_dir;

    agent::FarmToolHost host(system, std::move(*options));
    HandleInput input(GetStdHandle(STD_INPUT_HANDLE));
    HandleOutput output(GetStdHandle(STD_OUTPUT_HANDLE));
    StandardError diagnostics;
    mcp::StdioOptions stdio;
    stdio.session.server_name = "MEmuFarm";
    stdio.session.server_version = APP_VERSION;
    stdio.session.max_calls = static_cast<std::size_t>(request.max_calls);
    code = mcp::StdioServer(host, input, output, diagnostics, stdio).Run();
    if (!capture_dir.empty()) RemoveDirectoryW(WideFromGbk(capture_dir).c_str());
    return code;
}
