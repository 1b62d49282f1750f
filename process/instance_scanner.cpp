#include "process/instance_scanner.h"

#include "text/gbk_text.h"

namespace {

constexpr const char* kHeadlessExeName = "MEmuHeadless.exe";
// Stands for a double quote in a marker, so markers with quotes can be written as literals.
constexpr const char* kQuotePlaceholder = "#引号";

bool IsHeadless(const ProcessEntry& entry) {
    return entry.exe_name == kHeadlessExeName;
}

}  // namespace

std::string ExtractBetween(const std::string& text, const std::string& start_marker,
                           const std::string& end_marker, int start, bool ignore_case) {
    const std::string opening = gbk::ReplaceAll(start_marker, kQuotePlaceholder, "\"");
    const std::string closing = gbk::ReplaceAll(end_marker, kQuotePlaceholder, "\"");

    int from = gbk::Find(text, opening, start, ignore_case);
    if (from == -1) return {};
    from += static_cast<int>(opening.size());
    int to = gbk::Find(text, closing, from, ignore_case);
    if (to == -1) return {};
    return text.substr(static_cast<size_t>(from - 1), static_cast<size_t>(to - from));
}

int32_t VmNumberOfCommandLine(const std::string& command_line) {
    return gbk::ToInt(ExtractBetween(command_line, "MEmu_", " --"));
}

uint32_t FindHeadlessPid(ProcessSource& source, int32_t vm_index) {
    for (const ProcessEntry& entry : source.Snapshot()) {
        if (!IsHeadless(entry)) continue;
        if (VmNumberOfCommandLine(source.ReadCommandLine(entry.pid)) == vm_index) return entry.pid;
    }
    return 0;
}

HeadlessProcessIndex::HeadlessProcessIndex(ProcessSource& source) : source_(source) {
    for (ProcessEntry& entry : source_.Snapshot()) {
        if (IsHeadless(entry)) headless_.push_back(std::move(entry));
    }
}

uint32_t HeadlessProcessIndex::Find(int32_t vm_index) {
    // Processes already read, in snapshot order, then the rest, each read once.
    for (size_t i = 0; i < numbers_.size(); ++i) {
        if (numbers_[i] == vm_index) return headless_[i].pid;
    }
    while (numbers_.size() < headless_.size()) {
        const ProcessEntry& entry = headless_[numbers_.size()];
        numbers_.push_back(VmNumberOfCommandLine(source_.ReadCommandLine(entry.pid)));
        if (numbers_.back() == vm_index) return entry.pid;
    }
    return 0;
}
