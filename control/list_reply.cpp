#include "control/list_reply.h"

#include <cstdint>

#include "text/gbk_text.h"

std::vector<ListFields> SplitListReply(std::string_view reply) {
    std::vector<ListFields> lines;
    for (const std::string& line : gbk::SplitLines(reply)) lines.push_back(gbk::SplitFields(line));
    return lines;
}

int32_t ListedWindow(const ListFields& fields) {
    return gbk::ToInt(fields.at(2));
}

VmRecord RecordFromFields(const ListFields& fields) {
    VmRecord record;
    record.index = gbk::ToInt(fields.at(0));
    record.title = fields.at(1);
    record.window = gbk::ToInt(fields.at(2));
    record.started = fields.at(3) != "0";
    record.process_id = gbk::ToInt(fields.at(4));
    return record;
}

namespace {

// An optional '-' and decimal digits, within the 32-bit range.
bool IsWholeNumber(std::string_view text) {
    if (!text.empty() && text[0] == '-') text.remove_prefix(1);
    if (text.empty() || text.size() > 10) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    const int64_t value = gbk::ToInt64(text);
    return value <= INT32_MAX;
}

std::vector<std::string> LinesAtLf(std::string_view reply) {
    std::vector<std::string> lines;
    for (std::string& line : gbk::Split(reply, "\n")) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace

ListReading ReadListReply(std::string_view reply) {
    ListReading reading;
    for (const std::string& line : LinesAtLf(reply)) {
        if (line.empty()) continue;
        // Every field, the empty one after a final comma too.
        ListFields fields = gbk::Split(line + ",", ",");
        if (fields.size() > 5) {
            std::string title = fields[1];
            for (size_t i = 2; i + 3 < fields.size(); ++i) title += "," + fields[i];
            fields = {fields[0], title, fields[fields.size() - 3], fields[fields.size() - 2],
                      fields.back()};
        }
        const bool readable = fields.size() == 5 && IsWholeNumber(fields[0]) &&
                              IsWholeNumber(fields[2]) && IsWholeNumber(fields[3]) &&
                              IsWholeNumber(fields[4]);
        if (!readable) {
            reading.unreadable.push_back(line);
            continue;
        }
        reading.vms.push_back(RecordFromFields(fields));
    }
    return reading;
}

void ListedVmCompleter::Complete(VmRecord& record) {
    if (record.window >= 1) record.inner_window = window_walk_(record.window);
    if (record.process_id == 0) return;
    if (!headless_) headless_.emplace(processes_);
    record.headless_pid = static_cast<int32_t>(headless_->Find(record.index));
}
