#include "process/worker_threads_win.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "win/unique_resource.h"

namespace {

struct Job {
    const std::function<void()>* work;
};

DWORD WINAPI RunJob(void* parameter) {
    (*static_cast<Job*>(parameter)->work)();
    return 0;
}

HANDLE StartThread(size_t stack_bytes, Job* job) {
    return CreateThread(nullptr, stack_bytes, RunJob, job, STACK_SIZE_PARAM_IS_A_RESERVATION,
                        nullptr);
}

constexpr unsigned char kMark = 0xA5;
constexpr uintptr_t kPage = 4096;

// Marks this thread's stack from two pages below this frame down to 64 KiB above the end of its
// reservation, a page at a time downwards, as the stack grows on its own; returns the lowest
// marked address.
__attribute__((noinline)) unsigned char* MarkStack(size_t stack_bytes) {
    volatile unsigned char here = 0;
    const auto frame = reinterpret_cast<uintptr_t>(&here);
    const uintptr_t top = (frame & ~(kPage - 1)) - 2 * kPage;  // memset's own frame above
    const uintptr_t bottom = ((frame - stack_bytes) & ~(kPage - 1)) + 16 * kPage;
    for (uintptr_t page = top; page >= bottom; page -= kPage)
        std::memset(reinterpret_cast<void*>(page), kMark, kPage);
    return reinterpret_cast<unsigned char*>(bottom);
}

}  // namespace

size_t RunOnThreads(size_t count, size_t stack_bytes, const std::function<void()>& work) {
    Job job{&work};
    std::vector<UniqueHandle> threads;
    threads.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        HANDLE thread = StartThread(stack_bytes, &job);
        if (!thread) break;
        threads.emplace_back(thread);
    }
    if (threads.empty()) {
        work();
        return 0;
    }
    for (const UniqueHandle& thread : threads) WaitForSingleObject(thread.get(), INFINITE);
    return threads.size();
}

size_t DeepestStackOf(size_t stack_bytes, const std::function<void()>& work) {
    size_t deepest = 0;
    const std::function<void()> measured = [&] {
        volatile unsigned char frame = 0;
        const auto top = reinterpret_cast<uintptr_t>(&frame);
        unsigned char* bottom = MarkStack(stack_bytes);
        work();
        unsigned char* lowest_used = bottom;
        while (lowest_used < reinterpret_cast<unsigned char*>(top) && *lowest_used == kMark)
            ++lowest_used;
        deepest = top - reinterpret_cast<uintptr_t>(lowest_used);
    };
    Job job{&measured};
    UniqueHandle thread(StartThread(stack_bytes, &job));
    if (!thread) return 0;
    WaitForSingleObject(thread.get(), INFINITE);
    return deepest;
}
