// Fuzzes marker extraction, the VM number of a headless command line, and the two ways of
// looking a VM up among headless processes.
//
// Input: an options byte (bit 0: ignore case; bit 1: look-ups in reverse order; bits 2-7: start
// position + 2), then texts separated by zero bytes: the text, the start marker, the end marker,
// and a process table (entries cut at '\n'; an entry's first byte picks its file name, the rest
// is its command line).

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "process/instance_scanner.h"
#include "text/gbk_text.h"

namespace {

// "#引号" in GBK: the placeholder that stands for a double quote in a marker.
const std::string kQuotePlaceholder = "#\xD2\xFD\xBA\xC5";

std::string ModelExtract(const std::string& text, const std::string& start_marker,
                         const std::string& end_marker, int start, bool ignore_case) {
    const std::string opening = gbk::ReplaceAll(start_marker, kQuotePlaceholder, "\"");
    const std::string closing = gbk::ReplaceAll(end_marker, kQuotePlaceholder, "\"");
    const int from = fuzz::ModelFind(text, opening, start, ignore_case);
    if (from == -1) return {};
    const int after = from + static_cast<int>(opening.size());
    const int to = fuzz::ModelFind(text, closing, after, ignore_case);
    if (to == -1) return {};
    return text.substr(static_cast<size_t>(after - 1), static_cast<size_t>(to - after));
}

int32_t ModelVmNumber(const std::string& command_line) {
    return gbk::ToInt(ModelExtract(command_line, "MEmu_", " --", 1, false));
}

void CheckExtraction(const std::string& text, const std::string& start_marker,
                     const std::string& end_marker, int start, bool ignore_case) {
    const std::string found = ExtractBetween(text, start_marker, end_marker, start, ignore_case);
    FUZZ_REQUIRE(found == ModelExtract(text, start_marker, end_marker, start, ignore_case), text,
                 start_marker, end_marker, found);
    FUZZ_REQUIRE(found.empty() || text.find(found) != std::string::npos, text, found);
    // The placeholder and a literal quote are the same marker.
    FUZZ_REQUIRE(ExtractBetween(text, kQuotePlaceholder, kQuotePlaceholder) ==
                     ExtractBetween(text, "\"", "\""),
                 text);
    FUZZ_REQUIRE(VmNumberOfCommandLine(text) == ModelVmNumber(text), text);
}

// A command line built around a known number gives that number back, whatever GBK text comes
// before it (when that text holds no "MEmu_" and does not end in a lone lead byte, which would
// swallow the marker's first letter) and whatever follows " --".
void CheckBuiltCommandLine(const std::string& prefix, const std::string& suffix, int32_t number) {
    if (fuzz::ModelFind(prefix, "MEmu_") != -1) return;
    if (!prefix.empty()) {
        const std::vector<bool> starts = fuzz::CharacterStarts(prefix);
        if (starts[prefix.size() - 1] && static_cast<unsigned char>(prefix.back()) >= 0x80) return;
    }
    const std::string line = prefix + "MEmu_" + gbk::Decimal(number) + " --" + suffix;
    FUZZ_REQUIRE(VmNumberOfCommandLine(line) == number, line);
}

class TableProcesses : public ProcessSource {
public:
    explicit TableProcesses(const std::string& table) {
        static const char* const kNames[] = {"MEmuHeadless.exe", "memuheadless.exe", "MEmu.exe",
                                             "MEmuHeadless.exe "};
        uint32_t pid = 100;
        for (const std::string& entry : SplitAtNewlines(table)) {
            const auto pick = entry.empty() ? 0 : static_cast<unsigned char>(entry[0]) % 4;
            entries_.push_back({pid, kNames[pick]});
            lines_[pid] = entry.empty() ? std::string() : entry.substr(1);
            ++pid;
        }
    }
    std::vector<ProcessEntry> Snapshot() override { return entries_; }
    std::string ReadCommandLine(uint32_t pid) override {
        ++reads_[pid];
        const auto it = lines_.find(pid);
        return it == lines_.end() ? std::string() : it->second;
    }

    // The first exact "MEmuHeadless.exe" whose number equals the index, or 0.
    uint32_t ModelFind(int32_t vm_index) const {
        for (const ProcessEntry& entry : entries_) {
            if (entry.exe_name == "MEmuHeadless.exe" &&
                ModelVmNumber(lines_.at(entry.pid)) == vm_index)
                return entry.pid;
        }
        return 0;
    }
    std::vector<int32_t> ListedNumbers() const {
        std::vector<int32_t> numbers;
        for (const auto& [pid, line] : lines_) numbers.push_back(ModelVmNumber(line));
        return numbers;
    }
    int MostReadsOfOneProcess() const {
        int most = 0;
        for (const auto& [pid, count] : reads_) most = std::max(most, count);
        return most;
    }

private:
    static std::vector<std::string> SplitAtNewlines(const std::string& table) {
        std::vector<std::string> entries;
        if (table.empty()) return entries;
        size_t begin = 0;
        for (size_t i = 0; i <= table.size(); ++i) {
            if (i == table.size() || table[i] == '\n') {
                entries.push_back(table.substr(begin, i - begin));
                begin = i + 1;
            }
        }
        return entries;
    }

    std::vector<ProcessEntry> entries_;
    std::map<uint32_t, std::string> lines_;
    std::map<uint32_t, int> reads_;
};

// Enough look-ups to mix hits, misses and cached answers without slowing every run.
constexpr size_t kMostListedQueries = 16;

void CheckLookups(const std::string& table, int32_t extra_index, bool reverse) {
    std::vector<int32_t> queries = TableProcesses(table).ListedNumbers();
    if (queries.size() > kMostListedQueries) queries.resize(kMostListedQueries);
    queries.push_back(0);
    queries.push_back(extra_index);
    queries.push_back(-1);
    if (reverse) std::reverse(queries.begin(), queries.end());

    TableProcesses shared(table);
    HeadlessProcessIndex index(shared);
    for (int32_t query : queries) {
        TableProcesses fresh(table);
        const uint32_t expected = fresh.ModelFind(query);
        FUZZ_REQUIRE(FindHeadlessPid(fresh, query) == expected, table, gbk::Decimal(query));
        FUZZ_REQUIRE(index.Find(query) == expected, table, gbk::Decimal(query));
    }
    // The shared snapshot reads each command line at most once, however many look-ups run.
    FUZZ_REQUIRE(shared.MostReadsOfOneProcess() <= 1, table);
}

int32_t NumberFromBytes(const std::string& bytes) {
    uint32_t bits = 0;
    for (size_t i = 0; i < bytes.size() && i < 4; ++i)
        bits |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return static_cast<int32_t>(bits);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InstallCrashingFatalHandler();
    // The converted scanner source must carry the placeholder as GBK bytes.
    FUZZ_REQUIRE(ExtractBetween("a\"b\"c", kQuotePlaceholder, kQuotePlaceholder) == "b");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::Input input(data, size, 4);
    const std::string& text = input.texts[0];
    const std::string& start_marker = input.texts[1];
    const std::string& end_marker = input.texts[2];
    const std::string& table = input.texts[3];
    const bool ignore_case = (input.options & 1) != 0;
    const bool reverse = (input.options & 2) != 0;
    const int start = (input.options >> 2) - 2;
    const int32_t number = NumberFromBytes(end_marker);

    CheckExtraction(text, start_marker, end_marker, start, ignore_case);
    CheckBuiltCommandLine(text, start_marker, number);
    CheckLookups(table, number, reverse);
    return 0;
}
