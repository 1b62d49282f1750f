#include "control/list_reply.h"

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
