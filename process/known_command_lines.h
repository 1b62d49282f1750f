// Command lines already read, by process: a process is its number and its start time together,
// so a number the system gives out again to a later process finds nothing kept. What is kept is
// only for processes still running at the last look.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class KnownCommandLines {
public:
    // The line kept for this process, if any.
    std::optional<std::string> Find(uint32_t pid, uint64_t created) const;
    // Keeps a line read for this process (an empty line, or one without a start time, is not
    // kept: it would stand for a read that failed).
    void Keep(uint32_t pid, uint64_t created, std::string line);
    // Forgets every process not among those running now.
    void KeepOnly(const std::vector<uint32_t>& running);
    size_t size() const;

private:
    struct Known {
        uint64_t created;
        std::string line;
    };
    mutable std::mutex mutex_;
    std::map<uint32_t, Known> known_;
};
