// The fatal runtime error as the user meets it: a box titled "错误" with the built message, and
// after it is dismissed an exit code of -1 without the end routine having run.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "app/fault_sites.h"
#include "probes/fatal_probe_sites.h"
#include "support/win_test_support.h"
#include "text/fatal_error.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

// The box of `process`, or null once the process has ended or 30 seconds have passed.
HWND WaitForErrorBox(HANDLE process, DWORD process_id) {
    for (int i = 0; i < 300; ++i) {
        if (HWND box = FindMessageBoxOf(process_id, L"错误")) return box;
        if (WaitForSingleObject(process, 100) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
}

std::wstring WindowText(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

struct Probe {
    UniqueHandle process;
    DWORD id = 0;
};

Probe StartProbe(const std::string& mode, const std::string& marker) {
    std::wstring line = L"\"" + WideFromGbk(BinDir() + "fatal_probe.exe") + L"\" " +
                        WideFromGbk(mode) + L" \"" + WideFromGbk(marker) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    Probe probe;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info)) {
        return probe;
    }
    CloseHandle(info.hThread);
    probe.process.reset(info.hProcess);
    probe.id = info.dwProcessId;
    return probe;
}

bool FileExists(const std::string& path) {
    return GetFileAttributesW(WideFromGbk(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct FaultCase {
    const char* mode;
    int code;
    std::string message;
    fatal::Site site;
};

class FatalBox : public testing::TestWithParam<FaultCase> {};

TEST_P(FatalBox, ShowsTheMessageThenExitsWithMinusOneWithoutTheEndRoutine) {
    const FaultCase& fault = GetParam();
    const std::string marker = BinDir() + "fatal_probe_" + fault.mode + ".marker";
    DeleteFileW(WideFromGbk(marker).c_str());

    Probe probe = StartProbe(fault.mode, marker);
    ASSERT_TRUE(probe.process);
    HWND box = WaitForErrorBox(probe.process.get(), probe.id);
    ASSERT_NE(box, nullptr) << "no box titled 错误 appeared";

    // The message text sits in the box's static text control.
    const std::wstring expected =
        WideFromGbk(fatal::BuildMessage(fault.code, fault.message, fault.site));
    EXPECT_EQ(WindowText(GetDlgItem(box, 0xFFFF)), expected);
    EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr) << "the box has no owner window";

    // While the box is up the process is still there; it ends only when the box is dismissed.
    EXPECT_EQ(WaitForSingleObject(probe.process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_EQ(WaitForSingleObject(probe.process.get(), 30000), WAIT_OBJECT_0);
    DWORD exit_code = 0;
    GetExitCodeProcess(probe.process.get(), &exit_code);
    EXPECT_EQ(exit_code, 0xFFFFFFFFu);
    EXPECT_FALSE(FileExists(marker)) << "the end routine ran";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FatalBox,
    testing::Values(
        FaultCase{"below", fatal::kIndexBelowOne, fatal::IndexBelowOneText(), kProbeIndexBelowOne},
        FaultCase{"above", fatal::kIndexAboveCount, fatal::IndexAboveCountText(),
                  kProbeIndexAboveCount},
        // new char[SIZE_MAX / 2] in the 64-bit build; the replaced operator new[] reports it.
        FaultCase{"alloc", fatal::kNoCode, fatal::AllocationFailedText(SIZE_MAX / 2),
                  fault_site::kNewArray}),
    [](const testing::TestParamInfo<FaultCase>& param) { return std::string(param.param.mode); });

// The same probe without a fault: no box, exit code 0, and the end routine has run. This shows
// the marker really tells whether the end routine ran.
TEST(FatalBoxControl, NormalEndRunsTheEndRoutineAndExitsWithZero) {
    const std::string marker = BinDir() + "fatal_probe_normal.marker";
    DeleteFileW(WideFromGbk(marker).c_str());
    Probe probe = StartProbe("normal", marker);
    ASSERT_TRUE(probe.process);
    ASSERT_EQ(WaitForSingleObject(probe.process.get(), 30000), WAIT_OBJECT_0);
    DWORD exit_code = 1;
    GetExitCodeProcess(probe.process.get(), &exit_code);
    EXPECT_EQ(exit_code, 0u);
    EXPECT_TRUE(FileExists(marker));
    DeleteFileW(WideFromGbk(marker).c_str());
}

}  // namespace
