// What a program we start inherits: its own standard handles (a pipe or the NUL device), and no
// other handle of ours, against real child processes (tools/test_child.cpp).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "process/captured_run_win.h"
#include "process/detached_start_win.h"
#include "support/win_test_support.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

// An inheritable pipe of the test's own, which no child is meant to get.
struct StrayPipe {
    UniqueHandle read_end;
    UniqueHandle write_end;

    StrayPipe() {
        SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
        EXPECT_TRUE(CreatePipe(read_end.put(), write_end.put(), &inheritable, 0));
    }
    // Closes our write end; the pipe is broken unless a child holds a copy of it.
    bool BrokenOnceOursIsClosed() {
        write_end.reset();
        DWORD available = 0;
        return !PeekNamedPipe(read_end.get(), nullptr, 0, nullptr, &available, nullptr);
    }
};

CaptureRequest ChildRun(const std::string& args) {
    CaptureRequest request;
    request.application = WideFromGbk(BinDir() + "test_child.exe");
    request.command_line = WideFromGbk("test_child.exe " + args);
    request.pump_messages = false;
    return request;
}

TEST(InheritedHandles, ACapturedRunGetsTheNulDeviceAsItsInput) {
    const CaptureResult result = RunCaptured(ChildRun("stdin"));
    EXPECT_EQ(result.end, CaptureResult::End::kExited);
    EXPECT_EQ(result.output, "STDIN=");  // end of file at once: neither absent nor failing
}

// The child still runs while the stray pipe is looked at: the run is abandoned at its first
// poll, and the child left running.
TEST(InheritedHandles, ACapturedRunInheritsNoneOfOurOtherHandles) {
    StrayPipe stray;
    bool broken = false;
    CaptureRequest request = ChildRun("out:started sleep:5000");
    request.abandon = [&] {
        broken = stray.BrokenOnceOursIsClosed();
        return true;
    };
    EXPECT_EQ(RunCaptured(request).end, CaptureResult::End::kAbandoned);
    EXPECT_TRUE(broken);
}

TEST(InheritedHandles, ADetachedStartInheritsNoneOfOurHandles) {
    StrayPipe stray;
    DetachedStart start;
    start.application = WideFromGbk(BinDir() + "test_child.exe");
    start.command_line = L"test_child.exe sleep:5000";
    start.apart_from_console = true;
    ASSERT_EQ(StartDetached(start), 0u);
    EXPECT_TRUE(stray.BrokenOnceOursIsClosed());
}

}  // namespace
