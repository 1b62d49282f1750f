// Fuzzes the list reply: the whole input is what the list command printed. It is cut into
// lines and fields, and run through the three list operations of the control module against a
// fake system whose tool prints exactly that reply.

#include <cstdint>
#include <string>
#include <vector>

#include "control/emulator_control.h"
#include "control/list_reply.h"
#include "fuzz_support.h"
#include "text/gbk_text.h"

namespace {

// Headless processes for VMs 0, 1 and 2; every other running VM finds none.
class FixedProcesses : public ProcessSource {
public:
    std::vector<ProcessEntry> Snapshot() override {
        return {{40, "MEmuHeadless.exe"}, {41, "MEmuHeadless.exe"}, {42, "MEmuHeadless.exe"}};
    }
    std::string ReadCommandLine(uint32_t pid) override {
        if (pid == 41) return "MEmuHeadless.exe --comment MEmu_1 --startvm x";
        if (pid == 42) return "MEmuHeadless.exe --comment MEmu_2 --startvm y";
        return "MEmuHeadless.exe --comment MEmu --startvm z";
    }
    static int32_t PidOf(int32_t index) { return index >= 0 && index <= 2 ? 40 + index : 0; }
};

class ReplyPlatform : public ControlPlatform {
public:
    explicit ReplyPlatform(std::string reply) : reply_(std::move(reply)) {}

    std::string Run(const std::string&, int) override { return reply_; }
    void StartDetached(const std::string&) override {}
    std::string CurrentDirectory() override { return "C:\\MEmu"; }
    bool MakeDirectoryCurrent(const std::string&) override { return true; }
    bool FileExists(const std::string&) override { return true; }
    std::string DiscoverInstallDirectory() override { return "C:\\MEmu\\"; }
    int32_t WindowWalk(int32_t window) override { return Walked(window); }
    void ResponsiveWaitOneMs() override { ++waits; }
    int32_t TickCount() override { return 0; }
    ProcessSource& Processes() override { return processes_; }

    static int32_t Walked(int32_t window) { return window ^ 0x5A5A; }
    int waits = 0;

private:
    std::string reply_;
    FixedProcesses processes_;
};

void CheckRecord(const VmRecord& record, const ListFields& fields, const std::string& line) {
    const int32_t window = gbk::ToInt(fields[2]);
    const int32_t process_id = gbk::ToInt(fields[4]);
    FUZZ_REQUIRE(record.index == gbk::ToInt(fields[0]), line);
    FUZZ_REQUIRE(record.title == fields[1], line, record.title);
    FUZZ_REQUIRE(record.window == window, line);
    FUZZ_REQUIRE(record.inner_window == (window >= 1 ? ReplyPlatform::Walked(window) : 0), line);
    FUZZ_REQUIRE(record.started == (fields[3] != "0"), line);
    FUZZ_REQUIRE(record.process_id == process_id, line);
    FUZZ_REQUIRE(record.headless_pid == (process_id != 0 ? FixedProcesses::PidOf(record.index) : 0),
                 line);
    FUZZ_REQUIRE(record.reserved1 == 0 && record.reserved2.empty() && record.reserved3 == 0, line);
}

// Lists with `list` and compares every record with the lines `counts` accepts.
template <typename ListFunction, typename LinePredicate>
void CheckListing(const std::string& reply, const std::vector<std::string>& lines,
                  const std::vector<ListFields>& split, ListFunction list, LinePredicate counts) {
    ReplyPlatform platform(reply);
    EmulatorControl control(platform);
    VmList vms;
    VmRecord stale;
    stale.title = "stale";
    vms.Append(stale);  // earlier contents must be replaced

    const int count = (control.*list)(vms);
    FUZZ_REQUIRE(count == vms.Count(), reply);
    FUZZ_REQUIRE(count <= static_cast<int>(lines.size()), reply);
    FUZZ_REQUIRE(platform.waits == count, reply);
    int next = 1;
    for (size_t k = 0; k < split.size(); ++k) {
        if (!counts(split[k])) continue;
        FUZZ_REQUIRE(next <= count, reply, lines[k]);
        CheckRecord(vms.At(next, {0, 0}), split[k], lines[k]);
        ++next;
    }
    FUZZ_REQUIRE(next == count + 1, reply);
}

int32_t ModelFirstWindowless(const std::vector<ListFields>& split) {
    for (const ListFields& fields : split) {
        if (fields.size() >= 3 && gbk::ToInt(fields[2]) < 1) return gbk::ToInt(fields[0]);
    }
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InstallCrashingFatalHandler();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);

    const std::vector<std::string> lines = gbk::SplitLines(reply);
    const std::vector<ListFields> split = SplitListReply(reply);
    FUZZ_REQUIRE(split.size() == lines.size(), reply);
    for (size_t k = 0; k < lines.size(); ++k) {
        FUZZ_REQUIRE(split[k] == gbk::SplitFields(lines[k]), reply, lines[k]);
        if (split[k].size() >= 3) {
            FUZZ_REQUIRE(ListedWindow(split[k]) == gbk::ToInt(split[k][2]), lines[k]);
        }
    }

    CheckListing(reply, lines, split, &EmulatorControl::ListVms,
                 [](const ListFields& fields) { return fields.size() == 5; });
    CheckListing(
        reply, lines, split, &EmulatorControl::ListWindowedVms,
        [](const ListFields& fields) { return fields.size() >= 5 && gbk::ToInt(fields[2]) >= 1; });

    ReplyPlatform platform(reply);
    EmulatorControl control(platform);
    FUZZ_REQUIRE(control.FirstWindowlessVm() == ModelFirstWindowless(split), reply);
    return 0;
}
