#include "process/command_runner_win.h"

#include <windows.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <vector>

#include "process/waits_win.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

DWORD g_creation_flags = 0;

// The pipe's buffer: a child writing a large reply goes on writing into it while the runner
// waits between polls, instead of stopping at the system's default of a few KiB.
constexpr DWORD kPipeBytes = 1 << 20;

// Waits between polls that found the pipe empty: 1 ms after output, then twice as long each
// time up to about a system timer tick, the pace the polls had before high-resolution timers.
// Every poll costs system calls that a child just starting up needs too (under Wine they all
// queue at one server), so a silent command is polled less and less often; its end, and any
// window message, still end the wait at once.
constexpr int kFirstIdleWaitMs = 1;
constexpr int kLongestIdleWaitMs = 16;

// The command interpreter by its full path in the system folder: the program runs elevated,
// and a bare "cmd.exe" would be looked up in the program's own folder first.
std::wstring InterpreterPath() {
    wchar_t folder[MAX_PATH] = {};
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::wstring path(folder, n);
    if (path.back() != L'\\') path += L'\\';
    return path + L"cmd.exe";
}

// Starts "cmd.exe /c " + command hidden, with stdout and stderr on `write_end` and no stdin.
// The command line is converted from GBK explicitly, so it reaches the interpreter intact
// whatever the system's ANSI code page is.
UniqueHandle StartInterpreter(const std::string& command, HANDLE write_end) {
    std::wstring application = InterpreterPath();
    std::wstring line = WideFromGbk("cmd.exe /c " + command);
    if (application.empty() || line.empty()) return {};
    std::vector<wchar_t> writable(line.begin(), line.end());
    writable.push_back(L'\0');

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = nullptr;
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;

    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(application.c_str(), writable.data(), nullptr, nullptr, TRUE,
                        g_creation_flags, nullptr, nullptr, &startup, &info)) {
        return {};
    }
    UniqueHandle thread(info.hThread);
    return UniqueHandle(info.hProcess);
}

// Bytes waiting in the pipe; 0 when there are none or the pipe is broken.
DWORD BytesAvailable(HANDLE read_end) {
    DWORD available = 0;
    if (!PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr)) return 0;
    return available;
}

// Makes room for `size` bytes of output. The capacity grows in powers of two, so that a
// growing reply is copied at most once per doubling and the last doubling is no larger than
// the reply needs.
void ReserveOutput(std::string& output, size_t size) {
    if (size <= output.capacity()) return;
    if (size > std::numeric_limits<size_t>::max() / 2) return;  // left to the string itself
    output.reserve(std::bit_ceil(size));
}

// Reads the `available` bytes waiting in the pipe straight onto the end of `output` and keeps
// them up to the first zero byte: that is the chunk, and output.c_str() + (the size before)
// is its zero-terminated text. Returns the bytes taken from the pipe; a failed read takes none
// and gives an empty chunk.
DWORD ReadChunkInto(HANDLE read_end, DWORD available, std::string& output) {
    const size_t start = output.size();
    ReserveOutput(output, start + available);
    output.resize(start + available);
    char* chunk = output.data() + start;
    DWORD read = 0;
    if (!ReadFile(read_end, chunk, available, &read, nullptr)) read = 0;
    const void* zero = std::memchr(chunk, '\0', read);
    output.resize(start + (zero ? static_cast<size_t>(static_cast<const char*>(zero) - chunk)
                                : static_cast<size_t>(read)));
    return read;
}

enum class ChunkResult { kKeep, kStop };

// Hands the chunk that starts at `start` in the output to the callback (if any); a callback
// that stops the run takes the chunk out of the output again.
ChunkResult OfferChunk(OutputCallback callback, size_t start, std::string& output) {
    if (callback && callback(output.c_str() + start) != 0) {
        output.resize(start);
        return ChunkResult::kStop;
    }
    return ChunkResult::kKeep;
}

void StripTrailingLineEnds(std::string& output) {
    while (output.size() >= 2 && output.compare(output.size() - 2, 2, "\r\n") == 0)
        output.resize(output.size() - 2);
}

// The child has ended, but what it wrote after the last look is still in the pipe. Only the
// bytes waiting now are taken: a process the child left behind may go on writing, and that
// must not hold the window thread here.
void DrainAfterExit(HANDLE read_end, OutputCallback callback, std::string& output) {
    DWORD left = BytesAvailable(read_end);
    while (left > 0) {
        const size_t start = output.size();
        const DWORD read = ReadChunkInto(read_end, left, output);
        if (read == 0 || OfferChunk(callback, start, output) == ChunkResult::kStop) return;
        left -= std::min(read, left);
    }
}

// Polls the pipe until the child has ended, the time-out has passed on a silent poll, or the
// callback stops the run. The window thread keeps processing messages between polls.
std::string CollectOutput(HANDLE process, HANDLE read_end, DWORD start_tick, int timeout_ms,
                          OutputCallback callback, const std::function<bool()>& abandon,
                          bool* abandoned) {
    std::string output;
    PollWait wait(process);
    int idle_wait_ms = kFirstIdleWaitMs;
    for (;;) {
        if (abandon && abandon()) {
            if (abandoned) *abandoned = true;
            return output;
        }
        DWORD available = BytesAvailable(read_end);
        const bool got_data = available > 0;
        if (got_data) {
            idle_wait_ms = kFirstIdleWaitMs;
            const size_t start = output.size();
            ReadChunkInto(read_end, available, output);
            if (OfferChunk(callback, start, output) == ChunkResult::kStop) return output;
        } else {
            DWORD exit_code = 0;
            GetExitCodeProcess(process, &exit_code);
            if (exit_code != STILL_ACTIVE) {
                DrainAfterExit(read_end, callback, output);
                return output;
            }
            // Unsigned difference: correct across a wrap of the tick count.
            if (timeout_ms >= 1 && GetTickCount() - start_tick >= static_cast<DWORD>(timeout_ms))
                return output;
        }
        if (got_data) {
            // More output is likely waiting: handle what is queued for the window (input
            // included) and poll again at once, rather than waiting a timer tick per chunk (a
            // large reply comes in thousands of pipe-sized chunks).
            if (HIWORD(GetQueueStatus(QS_ALLINPUT)) != 0) PumpPendingMessages();
        } else {
            PumpIfInputPending();
            wait.Wait(idle_wait_ms);
            idle_wait_ms = std::min(idle_wait_ms * 2, kLongestIdleWaitMs);
        }
    }
}

std::string Run(const std::string& command, int timeout_ms, OutputCallback callback,
                bool strip_line_ends, const std::function<bool()>& abandon, bool* abandoned) {
    const DWORD start_tick = GetTickCount();

    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof(inheritable);
    inheritable.lpSecurityDescriptor = nullptr;
    inheritable.bInheritHandle = TRUE;
    UniqueHandle read_end;
    UniqueHandle write_end;
    if (!CreatePipe(read_end.put(), write_end.put(), &inheritable, kPipeBytes)) return {};
    // Only the write end goes to the child; a child holding our read end too would keep the
    // pipe alive for nothing.
    SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);

    UniqueHandle process = StartInterpreter(command, write_end.get());
    // Our copy of the write end goes at once, so the pipe breaks when the child's copies close.
    write_end.reset();
    if (!process) return {};

    std::string output = CollectOutput(process.get(), read_end.get(), start_tick, timeout_ms,
                                       callback, abandon, abandoned);
    if (strip_line_ends) StripTrailingLineEnds(output);
    return output;
}

}  // namespace

void SetCommandsInOwnProcessGroup(bool own_group) {
    g_creation_flags = own_group ? CREATE_NEW_PROCESS_GROUP : 0;
}

std::string RunCommand(const std::string& command, int timeout_ms, OutputCallback callback,
                       bool strip_line_ends) {
    return Run(command, timeout_ms, callback, strip_line_ends, nullptr, nullptr);
}

std::string RunCommandUntil(const std::string& command, const std::function<bool()>& abandon,
                            bool* abandoned, int timeout_ms) {
    if (abandoned) *abandoned = false;
    return Run(command, timeout_ms, nullptr, false, abandon, abandoned);
}
