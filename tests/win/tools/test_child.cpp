// A console program whose behaviour the tests choose with its arguments, taken in order:
//   out:TEXT     writes TEXT to stdout in one write (\r, \n, \0, \s and \\ are escapes)
//   err:TEXT     the same on stderr
//   sleep:MS     stays silent for MS milliseconds
//   flood:N      writes N bytes ('0'..'9' repeating) in 4000-byte writes, without pause
//   stream:MS    writes 64 KiB blocks of 'z' from three threads without pause for about MS
//                milliseconds; "END" follows the first thread's last block
//   pid          writes "PID=" + its process id + "\r\n"
//   stdin        reads its standard input to the end and writes "STDIN=" + the bytes read, or
//                "STDIN=none" when it has no standard input, "STDIN=error" when a read fails
//   exit:N       ends with exit code N (otherwise 0)
// Anything else (as in a headless VM's command line) is ignored. Arguments are taken as GBK
// whatever the system's ANSI code page is.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Unescape(const char* text) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p != '\\' || !p[1]) {
            out += *p;
            continue;
        }
        switch (*++p) {
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            case '0':
                out += '\0';
                break;
            case 's':
                out += ' ';
                break;
            default:
                out += *p;
        }
    }
    return out;
}

void Write(DWORD which, const std::string& bytes) {
    DWORD written = 0;
    WriteFile(GetStdHandle(which), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
              nullptr);
}

bool StartsWith(const std::string& text, const char* prefix, std::string& rest) {
    std::string p(prefix);
    if (text.compare(0, p.size(), p) != 0) return false;
    rest = text.substr(p.size());
    return true;
}

std::string Gbk(const wchar_t* wide) {
    int n = WideCharToMultiByte(936, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(936, 0, wide, -1, text.data(), n, nullptr, nullptr);
    text.resize(static_cast<size_t>(n - 1));
    return text;
}

std::string ReadStandardInput() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (!input || input == INVALID_HANDLE_VALUE) return "none";
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    for (;;) {
        if (!ReadFile(input, buffer, sizeof buffer, &got, nullptr))
            return GetLastError() == ERROR_BROKEN_PIPE ? bytes : "error";
        if (got == 0) return bytes;
        bytes.append(buffer, got);
    }
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 1;
    int exit_code = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = Gbk(argv[i]);
        std::string value;
        if (StartsWith(arg, "out:", value)) {
            Write(STD_OUTPUT_HANDLE, Unescape(value.c_str()));
        } else if (StartsWith(arg, "err:", value)) {
            Write(STD_ERROR_HANDLE, Unescape(value.c_str()));
        } else if (StartsWith(arg, "sleep:", value)) {
            Sleep(static_cast<DWORD>(std::atoi(value.c_str())));
        } else if (StartsWith(arg, "flood:", value)) {
            long left = std::atol(value.c_str());
            long next = 0;
            while (left > 0) {
                std::string block;
                for (long k = 0; k < 4000 && left > 0; ++k, --left, ++next)
                    block += static_cast<char>('0' + next % 10);
                Write(STD_OUTPUT_HANDLE, block);
            }
        } else if (StartsWith(arg, "stream:", value)) {
            // Several writers, so that a write is always pending while one of them is between
            // two writes. The first ends its last write with "END" while the others still go
            // on for a while: the pipe never runs dry before "END" has been read.
            const ULONGLONG end = GetTickCount64() + std::atoi(value.c_str());
            std::vector<std::thread> writers;
            for (int w = 0; w < 3; ++w) {
                writers.emplace_back([end, w] {
                    const std::string block(64 * 1024, 'z');
                    const ULONGLONG stop = w == 0 ? end : end + 500;
                    while (GetTickCount64() < stop) Write(STD_OUTPUT_HANDLE, block);
                    if (w == 0) Write(STD_OUTPUT_HANDLE, block + "END");
                });
            }
            for (std::thread& writer : writers) writer.join();
        } else if (arg == "pid") {
            Write(STD_OUTPUT_HANDLE, "PID=" + std::to_string(GetCurrentProcessId()) + "\r\n");
        } else if (arg == "stdin") {
            Write(STD_OUTPUT_HANDLE, "STDIN=" + ReadStandardInput());
        } else if (StartsWith(arg, "exit:", value)) {
            exit_code = std::atoi(value.c_str());
        }
    }
    LocalFree(argv);
    return exit_code;
}
