#include "process/instance_scanner.h"

#include <gtest/gtest.h>

#include <map>

namespace {

struct ExtractCase {
    const char* name;
    std::string text;
    std::string start_marker;
    std::string end_marker;
    int start;
    bool ignore_case;
    std::string expected;
};

class ExtractBetweenTest : public testing::TestWithParam<ExtractCase> {};

TEST_P(ExtractBetweenTest, ReturnsTextBetweenMarkers) {
    const ExtractCase& c = GetParam();
    EXPECT_EQ(ExtractBetween(c.text, c.start_marker, c.end_marker, c.start, c.ignore_case),
              c.expected);
}

// "\xD5\x5F" is a GBK character whose trail byte is '_'; "\xB0\x2D" has '-' as trail byte.
INSTANTIATE_TEST_SUITE_P(
    Rows, ExtractBetweenTest,
    testing::Values(
        ExtractCase{"Plain", "x MEmu_12 --startvm", "MEmu_", " --", 1, false, "12"},
        ExtractCase{"EndFollowsAtOnce", "MEmu_ --", "MEmu_", " --", 1, false, ""},
        ExtractCase{"NoStartMarker", "MEmu --startvm", "MEmu_", " --", 1, false, ""},
        ExtractCase{"NoEndMarker", "MEmu_12", "MEmu_", " --", 1, false, ""},
        ExtractCase{"EndOnlyBeforeStart", " -- MEmu_12", "MEmu_", " --", 1, false, ""},
        ExtractCase{"FirstStartThenNextEnd", "MEmu_1 -- MEmu_2 --", "MEmu_", " --", 1, false, "1"},
        ExtractCase{"StartPositionSkipsEarlierMarker", "MEmu_1 -- MEmu_2 --", "MEmu_", " --", 3,
                    false, "2"},
        ExtractCase{"StartBelowOneMeansFirstByte", "MEmu_1 --", "MEmu_", " --", -4, false, "1"},
        ExtractCase{"CaseSensitiveByDefault", "memu_5 --", "MEmu_", " --", 1, false, ""},
        ExtractCase{"IgnoreCaseWhenAsked", "memu_5 --X", "MEmu_", " --x", 1, true, "5"},
        ExtractCase{"QuotePlaceholderInStart", "name=\"abc\" rest", "#引号", "#引号", 1, false,
                    "abc"},
        ExtractCase{"QuotePlaceholderInsideMarker", "k=\"v\";", "k=#引号", "#引号;", 1, false, "v"},
        ExtractCase{"NoMatchInsideDoubleByteChar", "\xD5_MEmu_7 --", "_", " --", 1, false, "7"},
        ExtractCase{"EndMarkerNotInsideDoubleByteChar", "MEmu_7\xB0- --", "MEmu_", "-", 1, false,
                    "7\xB0- "},
        ExtractCase{"ChineseBetween", "MEmu_逍遥 --", "MEmu_", " --", 1, false, "逍遥"},
        ExtractCase{"EmptyText", "", "MEmu_", " --", 1, false, ""},
        ExtractCase{"EmptyStartMarker", "abc --", "", " --", 1, false, ""}),
    [](const testing::TestParamInfo<ExtractCase>& row) { return std::string(row.param.name); });

struct NumberCase {
    std::string command_line;
    int32_t expected;
};

TEST(VmNumberOfCommandLineTest, ReadsTheNumberBetweenMarkers) {
    const NumberCase cases[] = {
        {"MEmuHeadless.exe --comment MEmu_12 --startvm abc", 12},
        {"MEmuHeadless.exe --comment MEmu --startvm abc", 0},
        {"MEmu_3a --", 3},
        {"MEmu_\xA3\xB4\xA3\xB2 --", 42},  // full-width digits
        {"MEmu_ 7 --", 7},
        {"MEmu_x --", 0},
        {"MEmu_12", 0},
        {"", 0},
        {"MEmu_-3 --", -3},
    };
    for (const NumberCase& c : cases) {
        EXPECT_EQ(VmNumberOfCommandLine(c.command_line), c.expected) << c.command_line;
    }
}

// A process list with command lines, counting how often each one is read.
class FakeProcesses : public ProcessSource {
public:
    void Add(uint32_t pid, std::string exe, std::string command_line) {
        entries_.push_back({pid, std::move(exe)});
        lines_[pid] = std::move(command_line);
    }
    std::vector<ProcessEntry> Snapshot() override {
        ++snapshots;
        return entries_;
    }
    std::string ReadCommandLine(uint32_t pid) override {
        ++reads[pid];
        return lines_[pid];
    }

    int snapshots = 0;
    std::map<uint32_t, int> reads;

private:
    std::vector<ProcessEntry> entries_;
    std::map<uint32_t, std::string> lines_;
};

void FillTypicalList(FakeProcesses& p) {
    p.Add(4, "System", "MEmu_5 --");
    p.Add(100, "MEmuHeadless.exe", "MEmuHeadless.exe --comment MEmu_5 --startvm a");
    p.Add(101, "memuheadless.exe", "MEmuHeadless.exe --comment MEmu_6 --startvm b");
    p.Add(102, "MEmuHeadless.exe", "");  // unreadable: counts as 0
    p.Add(103, "MEmuHeadless.exe", "MEmuHeadless.exe --comment MEmu_5 --startvm c");
    p.Add(104, "MEmuHeadless.exe", "MEmuHeadless.exe --comment MEmu --startvm d");
    p.Add(105, "MEmuHeadless.exe", "MEmuHeadless.exe --comment MEmu_12 --startvm e");
}

struct LookupCase {
    int32_t vm_index;
    uint32_t expected_pid;
};

const LookupCase kLookups[] = {
    {5, 100},   // first of two with the same number wins
    {12, 105},  // found after other headless processes
    {0, 102},   // the first unreadable line counts as 0
    {6, 0},     // only a differently cased file name has it
    {99, 0},
};

TEST(FindHeadlessPidTest, FirstMatchInSnapshotOrder) {
    FakeProcesses p;
    FillTypicalList(p);
    for (const LookupCase& c : kLookups) {
        EXPECT_EQ(FindHeadlessPid(p, c.vm_index), c.expected_pid) << c.vm_index;
    }
    EXPECT_EQ(p.reads.count(4), 0u);
    EXPECT_EQ(p.reads.count(101), 0u);
}

TEST(FindHeadlessPidTest, NoHeadlessProcessGivesZero) {
    FakeProcesses p;
    p.Add(8, "explorer.exe", "MEmu_0 --");
    EXPECT_EQ(FindHeadlessPid(p, 0), 0u);
    EXPECT_TRUE(p.reads.empty());
}

TEST(HeadlessProcessIndexTest, AnswersLikeFindHeadlessPid) {
    FakeProcesses p;
    FillTypicalList(p);
    HeadlessProcessIndex index(p);
    for (const LookupCase& c : kLookups) {
        EXPECT_EQ(index.Find(c.vm_index), c.expected_pid) << c.vm_index;
    }
    // Asked again in another order: same answers.
    EXPECT_EQ(index.Find(0), 102u);
    EXPECT_EQ(index.Find(5), 100u);
    EXPECT_EQ(p.snapshots, 1);
}

TEST(HeadlessProcessIndexTest, ReadsEachCommandLineAtMostOnce) {
    FakeProcesses p;
    FillTypicalList(p);
    HeadlessProcessIndex index(p);
    EXPECT_EQ(index.Find(5), 100u);
    EXPECT_EQ(p.reads.size(), 1u);  // stops at the first match
    index.Find(99);
    index.Find(12);
    index.Find(5);
    for (const auto& [pid, count] : p.reads) EXPECT_EQ(count, 1) << pid;
    EXPECT_EQ(p.reads.size(), 5u);  // every headless process, nothing else
    EXPECT_EQ(p.reads.count(101), 0u);
}

}  // namespace
