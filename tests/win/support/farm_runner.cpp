#include "support/farm_runner.h"

#include "control/command_line_args.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

UniqueFileHandle InheritableFile(const std::wstring& path) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return UniqueFileHandle(CreateFileW(path.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                        0, nullptr));
}

std::wstring FarmLine(const std::vector<std::string>& args) {
    std::string line = "MEmuFarm.exe";
    for (const std::string& arg : args) {
        line += ' ';
        line += cmdline::QuoteArgument(arg);
    }
    return WideFromGbk(line);
}

// One of the caller's pipes: our read end, and the write end that goes to the program.
struct CallerPipe {
    UniqueHandle read_end;
    UniqueHandle write_end;
    std::string text;
    bool ended = false;

    bool Create() {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        if (!CreatePipe(read_end.put(), write_end.put(), &inherit, 0)) return false;
        return SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0) != 0;
    }
    // Takes what is waiting; notes the end once the pipe is broken (every write end closed).
    void Poll() {
        if (ended) return;
        DWORD available = 0;
        if (!PeekNamedPipe(read_end.get(), nullptr, 0, nullptr, &available, nullptr)) {
            ended = true;
            return;
        }
        if (available == 0) return;
        std::string chunk(available, '\0');
        DWORD got = 0;
        if (ReadFile(read_end.get(), chunk.data(), available, &got, nullptr))
            text.append(chunk.data(), got);
    }
};

}  // namespace

FarmResult RunFarmPiped(const std::vector<std::string>& args, DWORD limit_ms) {
    std::wstring wide_line = FarmLine(args);
    FarmResult result;
    CallerPipe out, err;
    if (!out.Create() || !err.Create()) return result;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.write_end.get();
    startup.hStdError = err.write_end.get();
    PROCESS_INFORMATION info = {};
    const std::wstring exe = WideFromGbk(BinDir() + "MEmuFarm.exe");
    const ULONGLONG start = GetTickCount64();
    if (!CreateProcessW(exe.c_str(), wide_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &info))
        return result;
    UniqueHandle process(info.hProcess), thread(info.hThread);
    // Only the program's copies keep the pipes open now.
    out.write_end.reset();
    err.write_end.reset();
    while (!(out.ended && err.ended) && GetTickCount64() - start < limit_ms) {
        out.Poll();
        err.Poll();
        Sleep(5);
    }
    result.milliseconds = GetTickCount64() - start;
    if (WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.get(), &result.code);
    } else {
        TerminateProcess(process.get(), 9999);
        WaitForSingleObject(process.get(), 5000);
    }
    result.out = std::move(out.text);
    result.err = std::move(err.text);
    return result;
}

std::string ReadWhole(const std::string& path) {
    UniqueFileHandle file(CreateFileW(WideFromGbk(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (file && ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    return bytes;
}

FarmResult RunFarm(const std::vector<std::string>& args, DWORD limit_ms,
                   const std::string& program_dir, const std::string& current_dir) {
    std::wstring wide_line = FarmLine(args);
    const std::string out_path = BinDir() + "farm-out.txt";
    const std::string err_path = BinDir() + "farm-err.txt";
    FarmResult result;
    {
        UniqueFileHandle out = InheritableFile(WideFromGbk(out_path));
        UniqueFileHandle err = InheritableFile(WideFromGbk(err_path));
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.get();
        startup.hStdError = err.get();
        PROCESS_INFORMATION info = {};
        const std::wstring exe = WideFromGbk(program_dir + "MEmuFarm.exe");
        const std::wstring folder = WideFromGbk(current_dir);
        const ULONGLONG start = GetTickCount64();
        if (!CreateProcessW(exe.c_str(), wide_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                            nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &info))
            return result;
        UniqueHandle process(info.hProcess), thread(info.hThread);
        if (WaitForSingleObject(process.get(), limit_ms) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process.get(), &result.code);
        } else {
            TerminateProcess(process.get(), 9999);
            WaitForSingleObject(process.get(), 5000);
        }
        result.milliseconds = GetTickCount64() - start;
    }
    result.out = ReadWhole(out_path);
    result.err = ReadWhole(err_path);
    return result;
}
