#include "process/captured_run_win.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <vector>

#include "process/listed_handles_start_win.h"
#include "process/waits_win.h"
#include "win/unique_resource.h"

namespace {

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
// The same for a run that only waits (no window to keep responsive, no callback to show output
// as it comes): nothing reads its output before its end, which cuts any wait short, and the
// pipe holds a megabyte meanwhile, so a silent child is looked at a few times a second rather
// than every tick. A farm of hung tools then no longer floods the system (under Wine, the one
// server every other thread's I/O queues at) with polls. The time-out still ends a wait on time.
constexpr int kLongestQuietWaitMs = 128;

int LongestIdleWait(const CaptureRequest& request) {
    return request.pump_messages || request.callback ? kLongestIdleWaitMs : kLongestQuietWaitMs;
}

// The next idle wait, cut to what is left of the time-out so that it is seen when it passes.
int IdleWait(const CaptureRequest& request, int idle_wait_ms, DWORD start_tick) {
    if (request.timeout_ms < 1) return idle_wait_ms;
    const DWORD elapsed = GetTickCount() - start_tick;
    const DWORD timeout = static_cast<DWORD>(request.timeout_ms);
    const DWORD left = elapsed >= timeout ? 1 : timeout - elapsed;
    return static_cast<int>(std::min<DWORD>(static_cast<DWORD>(idle_wait_ms), left));
}

// Starts the program hidden, with stdout and stderr on `write_end` and stdin on the NUL
// device; it inherits those two handles and nothing else. Returns the process, or an empty
// handle with the system's error in *error.
UniqueHandle StartCapturedChild(const CaptureRequest& request, HANDLE write_end, DWORD* error) {
    const UniqueFileHandle nul = OpenInheritableNul();
    if (!nul) {
        *error = GetLastError();
        return {};
    }
    ListedHandlesStart start;
    start.application = request.application.c_str();
    start.command_line = request.command_line;
    start.folder = request.folder.empty() ? nullptr : request.folder.c_str();
    start.flags = (request.own_process_group ? CREATE_NEW_PROCESS_GROUP : 0) |
                  (request.own_console ? CREATE_NO_WINDOW : 0);
    start.input = nul.get();
    start.output = write_end;
    start.error = write_end;
    return StartWithListedHandles(start, error).process;
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

// The child has ended, but what it wrote after the last look is still in the pipe. Only the
// bytes waiting now are taken: a process the child left behind may go on writing, and that
// must not hold the caller here.
bool DrainAfterExit(HANDLE read_end, OutputCallback callback, std::string& output) {
    DWORD left = BytesAvailable(read_end);
    while (left > 0) {
        const size_t start = output.size();
        const DWORD read = ReadChunkInto(read_end, left, output);
        if (read == 0) return true;
        if (OfferChunk(callback, start, output) == ChunkResult::kStop) return false;
        left -= std::min(read, left);
    }
    return true;
}

// Polls the pipe until the child has ended, the time-out has passed on a silent poll, the
// callback stops the run or the caller abandons it.
void CollectOutput(const CaptureRequest& request, HANDLE process, HANDLE read_end, DWORD start_tick,
                   CaptureResult& result) {
    std::string& output = result.output;
    PollWait wait(process, request.pump_messages);
    int idle_wait_ms = kFirstIdleWaitMs;
    const int longest_idle_wait_ms = LongestIdleWait(request);
    for (;;) {
        if (request.abandon && request.abandon()) {
            result.end = CaptureResult::End::kAbandoned;
            return;
        }
        DWORD available = BytesAvailable(read_end);
        const bool got_data = available > 0;
        if (got_data) {
            idle_wait_ms = kFirstIdleWaitMs;
            const size_t start = output.size();
            ReadChunkInto(read_end, available, output);
            if (OfferChunk(request.callback, start, output) == ChunkResult::kStop) {
                result.end = CaptureResult::End::kStoppedByCallback;
                return;
            }
        } else {
            // The process handle itself says whether the child has ended: an exit code of 259
            // (STILL_ACTIVE) would look like a running child for ever.
            if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
                result.end = DrainAfterExit(read_end, request.callback, output)
                                 ? CaptureResult::End::kExited
                                 : CaptureResult::End::kStoppedByCallback;
                GetExitCodeProcess(process, &result.exit_code);
                return;
            }
            // Unsigned difference: correct across a wrap of the tick count.
            if (request.timeout_ms >= 1 &&
                GetTickCount() - start_tick >= static_cast<DWORD>(request.timeout_ms)) {
                result.end = CaptureResult::End::kTimedOut;
                return;
            }
        }
        if (got_data) {
            // More output is likely waiting: handle what is queued for the window (input
            // included) and poll again at once, rather than waiting a timer tick per chunk (a
            // large reply comes in thousands of pipe-sized chunks).
            if (request.pump_messages && HIWORD(GetQueueStatus(QS_ALLINPUT)) != 0)
                PumpPendingMessages();
        } else {
            if (request.pump_messages) PumpIfInputPending();
            wait.Wait(IdleWait(request, idle_wait_ms, start_tick));
            idle_wait_ms = std::min(idle_wait_ms * 2, longest_idle_wait_ms);
        }
    }
}

}  // namespace

CaptureResult RunCaptured(const CaptureRequest& request) {
    const DWORD start_tick = GetTickCount();
    CaptureResult result;

    UniqueHandle read_end;
    UniqueHandle process;
    {
        // Only the write end is inheritable, and only the child whose handle list names it
        // inherits it: no lock keeps other threads from starting children meanwhile, since
        // theirs inherit their own lists alone. Our read end is never inheritable: a child
        // holding it would keep the pipe alive for nothing.
        SECURITY_ATTRIBUTES inheritable = {};
        inheritable.nLength = sizeof(inheritable);
        inheritable.bInheritHandle = TRUE;
        UniqueHandle write_end;
        if (!CreatePipe(read_end.put(), write_end.put(), &inheritable, kPipeBytes)) {
            result.start_error = GetLastError();
            return result;
        }
        SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);
        process = StartCapturedChild(request, write_end.get(), &result.start_error);
        // Our copy of the write end goes at once, so the pipe breaks when the child's copies
        // close.
    }
    if (!process) return result;

    CollectOutput(request, process.get(), read_end.get(), start_tick, result);
    return result;
}
