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

}  // namespace

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
    std::string line = "MEmuFarm.exe";
    for (const std::string& arg : args) {
        line += ' ';
        line += cmdline::QuoteArgument(arg);
    }
    std::wstring wide_line = WideFromGbk(line);
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
