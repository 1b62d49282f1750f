// Worker threads with a stack reservation of our choosing. std::thread cannot set one, so every
// worker would reserve the whole default MiB, which Wine commits, one MiB a worker.
#pragma once

#include <cstddef>
#include <functional>

// The stack a farm worker reserves. The deepest a worker was measured to use is far below it
// (tests/win/worker_threads_test.cpp measures the farm's verbs and holds it to half of this).
inline constexpr size_t kWorkerStackBytes = 128 * 1024;

// Runs `work` on `count` threads at once, each reserving `stack_bytes` of stack, and waits for
// them all. Where the system starts fewer, those share the work; where it starts none, `work`
// runs on the calling thread, so the work is always done. Returns the threads started.
size_t RunOnThreads(size_t count, size_t stack_bytes, const std::function<void()>& work);

// Runs `work` on one thread reserving `stack_bytes`, and returns the most stack it used, in
// bytes (its whole stack is marked first, then read for the deepest mark overwritten).
size_t DeepestStackOf(size_t stack_bytes, const std::function<void()>& work);
