#include "process/known_command_lines.h"

#include <algorithm>

std::optional<std::string> KnownCommandLines::Find(uint32_t pid, uint64_t created) const {
    std::lock_guard lock(mutex_);
    const auto found = known_.find(pid);
    if (created == 0 || found == known_.end() || found->second.created != created) return {};
    return found->second.line;
}

void KnownCommandLines::Keep(uint32_t pid, uint64_t created, std::string line) {
    if (created == 0 || line.empty()) return;
    std::lock_guard lock(mutex_);
    known_[pid] = {created, std::move(line)};
}

void KnownCommandLines::KeepOnly(const std::vector<uint32_t>& running) {
    std::lock_guard lock(mutex_);
    std::erase_if(known_, [&running](const auto& known) {
        return std::find(running.begin(), running.end(), known.first) == running.end();
    });
}

size_t KnownCommandLines::size() const {
    std::lock_guard lock(mutex_);
    return known_.size();
}
