#include "farm/run/farm_system.h"

#include <thread>
#include <vector>

void FarmSystem::RunWorkers(size_t count, const std::function<void()>& work) {
    std::vector<std::thread> pool;
    pool.reserve(count);
    for (size_t i = 0; i < count; ++i) pool.emplace_back(work);
    for (std::thread& thread : pool) thread.join();
}
