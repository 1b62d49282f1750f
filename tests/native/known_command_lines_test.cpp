#include "process/known_command_lines.h"

#include <gtest/gtest.h>

#include "row_name.h"

namespace {

constexpr uint32_t kPid = 412;
constexpr uint64_t kStart = 133500000000000000ull;
const char kLine[] = "MEmuHeadless.exe --comment MEmu_3 --startvm x";

struct LookupRow {
    const char* name;
    uint32_t pid;
    uint64_t created;
    bool found;
};

class KnownLookup : public testing::TestWithParam<LookupRow> {};

// One line kept, for process 412 started at kStart; then looked up.
TEST_P(KnownLookup, FindsOnlyTheSameProcess) {
    KnownCommandLines known;
    known.Keep(kPid, kStart, kLine);
    const LookupRow& row = GetParam();
    const std::optional<std::string> line = known.Find(row.pid, row.created);
    EXPECT_EQ(line.has_value(), row.found);
    if (row.found) {
        EXPECT_EQ(*line, kLine);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, KnownLookup,
    testing::Values(LookupRow{"same number and start", kPid, kStart, true},
                    LookupRow{"number given out again, one tick later", kPid, kStart + 1, false},
                    LookupRow{"number given out again, earlier start", kPid, kStart - 1, false},
                    LookupRow{"another number, same start", kPid + 4, kStart, false},
                    LookupRow{"start unknown", kPid, 0, false}),
    RowName());

struct KeepRow {
    const char* name;
    uint64_t created;
    const char* line;
    size_t kept;
};

class KnownKeep : public testing::TestWithParam<KeepRow> {};

TEST_P(KnownKeep, KeepsOnlyWhatWasRead) {
    KnownCommandLines known;
    known.Keep(kPid, GetParam().created, GetParam().line);
    EXPECT_EQ(known.size(), GetParam().kept);
}

INSTANTIATE_TEST_SUITE_P(Rows, KnownKeep,
                         testing::Values(KeepRow{"a line read", kStart, kLine, 1},
                                         KeepRow{"a read that failed (empty)", kStart, "", 0},
                                         KeepRow{"no start time", 0, kLine, 0}),
                         RowName());

TEST(KnownCommandLinesTest, ALaterReadOfTheNumberReplacesTheLine) {
    KnownCommandLines known;
    known.Keep(kPid, kStart, kLine);
    known.Keep(kPid, kStart + 10, "MEmuHeadless.exe --comment MEmu_9 --startvm y");
    EXPECT_FALSE(known.Find(kPid, kStart));
    EXPECT_EQ(known.Find(kPid, kStart + 10), "MEmuHeadless.exe --comment MEmu_9 --startvm y");
    EXPECT_EQ(known.size(), 1u);
}

TEST(KnownCommandLinesTest, ForgetsWhatIsNoLongerRunning) {
    KnownCommandLines known;
    known.Keep(100, kStart, "a");
    known.Keep(104, kStart, "b");
    known.Keep(108, kStart, "c");
    known.KeepOnly({104, 4, 200});
    EXPECT_FALSE(known.Find(100, kStart));
    EXPECT_EQ(known.Find(104, kStart), "b");
    EXPECT_FALSE(known.Find(108, kStart));
    EXPECT_EQ(known.size(), 1u);
    known.KeepOnly({});
    EXPECT_EQ(known.size(), 0u);
}

}  // namespace
