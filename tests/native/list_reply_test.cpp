#include <gtest/gtest.h>

#include "control/list_reply.h"

namespace {

struct SplitRow {
    const char* name;
    std::string reply;
    std::vector<ListFields> lines;
};

TEST(ListReply, CutsLinesAtCrLfAndFieldsAtCommas) {
    const SplitRow rows[] = {
        {"empty reply", "", {}},
        {"two lines",
         "0,MEmu,0,0,0\r\n1,MEmu_1,1234,1,5678\r\n",
         {{"0", "MEmu", "0", "0", "0"}, {"1", "MEmu_1", "1234", "1", "5678"}}},
        {"last line without CR LF", "0,a\r\n1,b", {{"0", "a"}, {"1", "b"}}},
        {"LF only does not cut",
         "0,a,0,0,0\n1,b,0,0,0\n",
         {{"0", "a", "0", "0", "0\n1", "b", "0", "0", "0\n"}}},
        {"lone CR does not cut", "0,a\r1,b\r\n", {{"0", "a\r1", "b"}}},
        {"empty line has no fields", "\r\n0,a\r\n", {{}, {"0", "a"}}},
        {"final comma adds no field", "2,MEmu_2,0,0,\r\n", {{"2", "MEmu_2", "0", "0"}}},
        {"empty field between commas", "3,,0,,0\r\n", {{"3", "", "0", "", "0"}}},
        {"fields not trimmed", " 4, t ,0, 0,0\r\n", {{" 4", " t ", "0", " 0", "0"}}},
        {"title with a comma", "5,A,12,55,1,9\r\n", {{"5", "A", "12", "55", "1", "9"}}},
        {"trail byte 0x2C stays in the title",
         "6,\x81\x2C,0,0,0\r\n",
         {{"6", "\x81\x2C", "0", "0", "0"}}},
        {"trail byte 0x0D is no line end",
         "7,A\x81\r\n8,B,0,0,0\r\n",
         {{"7", "A\x81\r\n8", "B", "0", "0", "0"}}},
        {"Chinese title", "1,逍遥_1,0,1,20\r\n", {{"1", "逍遥_1", "0", "1", "20"}}},
    };
    for (const SplitRow& row : rows) {
        EXPECT_EQ(SplitListReply(row.reply), row.lines) << row.name;
    }
}

struct RecordRow {
    ListFields fields;
    int32_t index;
    std::string title;
    int32_t window;
    bool started;
    int32_t process_id;
};

TEST(ListReply, BuildsRecordsFromFiveFields) {
    const RecordRow rows[] = {
        {{"1", "MEmu_1", "0", "0", "0"}, 1, "MEmu_1", 0, false, 0},
        {{"1", "MEmu_1", "1234", "1", "5678"}, 1, "MEmu_1", 1234, true, 5678},
        // Only the exact text "0" means not started.
        {{"2", "t", "0", "", "0"}, 2, "t", 0, true, 0},
        {{"2", "t", "0", " 0", "0"}, 2, "t", 0, true, 0},
        {{"2", "t", "0", "00", "0"}, 2, "t", 0, true, 0},
        {{"2", "t", "0", "0 ", "0"}, 2, "t", 0, true, 0},
        // Integers: leading blanks, signs, trailing junk, full-width digits, no digits.
        {{" 12", " 标题 ", "-5", "0", "7x"}, 12, " 标题 ", -5, false, 7},
        {{"\xA3\xB3", "", "abc", "1", ""}, 3, "", 0, true, 0},
        {{"-1", "x", "+40", "1", "2147483648"}, -1, "x", 40, true, 2147483647},
    };
    for (const RecordRow& row : rows) {
        const VmRecord record = RecordFromFields(row.fields);
        SCOPED_TRACE(row.fields[0] + "," + row.fields[1] + "," + row.fields[2] + "," +
                     row.fields[3] + "," + row.fields[4]);
        EXPECT_EQ(record.index, row.index);
        EXPECT_EQ(record.title, row.title);
        EXPECT_EQ(record.window, row.window);
        EXPECT_EQ(record.started, row.started);
        EXPECT_EQ(record.process_id, row.process_id);
        EXPECT_EQ(record.inner_window, 0);
        EXPECT_EQ(record.headless_pid, 0);
    }
}

}  // namespace

namespace {

struct ReadingRow {
    const char* name;
    std::string reply;
    std::vector<std::string> vms;  // "index:title:window:started:pid"
    std::vector<std::string> unreadable;
};

std::string Brief(const VmRecord& vm) {
    return std::to_string(vm.index) + ":" + vm.title + ":" + std::to_string(vm.window) + ":" +
           (vm.started ? "1" : "0") + ":" + std::to_string(vm.process_id);
}

// The console companion's reading: no VM is dropped without a word.
TEST(ListReply, CompanionReadingKeepsCommaTitlesAndReportsTheRest) {
    const ReadingRow rows[] = {
        {"empty reply", "", {}, {}},
        {"two VMs",
         "0,MEmu,0,0,0\r\n1,MEmu_1,1234,1,5678\r\n",
         {"0:MEmu:0:0:0", "1:MEmu_1:1234:1:5678"},
         {}},
        {"one comma in the title", "5,A,B,12,1,9\r\n", {"5:A,B:12:1:9"}, {}},
        {"two commas and an empty piece", "6,a,,b,0,0,0\r\n", {"6:a,,b:0:0:0"}, {}},
        {"title ending in a comma", "7,x,,0,0,0\r\n", {"7:x,:0:0:0"}, {}},
        {"LF line ends", "0,a,0,0,0\n1,b,0,0,0\n", {"0:a:0:0:0", "1:b:0:0:0"}, {}},
        {"empty lines are no VMs", "\r\n1,a,0,0,0\r\n\r\n", {"1:a:0:0:0"}, {}},
        {"four fields", "2,MEmu_2,0,0\r\n", {}, {"2,MEmu_2,0,0"}},
        {"final comma", "2,MEmu_2,0,0,\r\n", {}, {"2,MEmu_2,0,0,"}},
        {"index not a number", "x,a,0,0,0\r\n", {}, {"x,a,0,0,0"}},
        {"negative window", "3,a,-1,0,0\r\n", {"3:a:-1:0:0"}, {}},
        {"a lone minus", "-,a,0,0,0\r\n", {}, {"-,a,0,0,0"}},
        {"process id at the 32-bit top", "4,a,0,1,2147483647\r\n", {"4:a:0:1:2147483647"}, {}},
        {"process id one past the 32-bit top",
         "4,a,0,1,2147483648\r\n",
         {},
         {"4,a,0,1,2147483648"}},
        {"index one past the 32-bit top", "2147483648,a,0,0,0\r\n", {}, {"2147483648,a,0,0,0"}},
        {"window past 2 to the 32", "4,a,4294967297,1,9\r\n", {}, {"4,a,4294967297,1,9"}},
        {"eleven digits", "4,a,0,1,12345678901\r\n", {}, {"4,a,0,1,12345678901"}},
        {"error text", "ERROR: something\r\n", {}, {"ERROR: something"}},
        {"Chinese title with a comma", "1,逍遥,一号,0,1,20\r\n", {"1:逍遥,一号:0:1:20"}, {}},
    };
    for (const ReadingRow& row : rows) {
        const ListReading reading = ReadListReply(row.reply);
        std::vector<std::string> vms;
        for (const VmRecord& vm : reading.vms) vms.push_back(Brief(vm));
        EXPECT_EQ(vms, row.vms) << row.name;
        EXPECT_EQ(reading.unreadable, row.unreadable) << row.name;
    }
}

}  // namespace
