// The waiting routines on a real message queue: what they dispatch, what they leave queued,
// and that a responsive wait lasts as long as asked while the window keeps working.
#include "process/waits_win.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "win/unique_resource.h"

namespace {

std::vector<UINT> g_handled;
ULONGLONG g_app_handled_at = 0;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message >= WM_APP && message < WM_APP + 16) {
        g_handled.push_back(message);
        g_app_handled_at = GetTickCount64();
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

class WaitsTest : public testing::Test {
protected:
    void SetUp() override {
        WNDCLASSW window_class = {};
        window_class.lpfnWndProc = RecordingProc;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"WaitsTestWindow";
        RegisterClassW(&window_class);
        window_.reset(CreateWindowExW(0, L"WaitsTestWindow", L"waits", WS_OVERLAPPEDWINDOW, 0, 0,
                                      200, 100, nullptr, nullptr, window_class.hInstance, nullptr));
        ASSERT_TRUE(window_);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        g_handled.clear();
        g_app_handled_at = 0;
    }
    void TearDown() override {
        SetDialogMessageFilter(nullptr);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    UniqueWindow window_;
};

TEST_F(WaitsTest, PumpDispatchesQueuedMessagesAndLeavesQuitQueued) {
    PostMessageW(window_.get(), WM_APP, 0, 0);
    PostMessageW(window_.get(), WM_APP + 1, 0, 0);
    PostQuitMessage(7);
    PumpPendingMessages();
    EXPECT_EQ(g_handled, (std::vector<UINT>{WM_APP, WM_APP + 1}));

    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(message.wParam, 7u);
}

TEST_F(WaitsTest, InputPendingPumpIgnoresPostedMessagesWithoutInput) {
    PostMessageW(window_.get(), WM_APP, 0, 0);
    PumpIfInputPending();
    EXPECT_TRUE(g_handled.empty());
    PumpPendingMessages();
    EXPECT_EQ(g_handled.size(), 1u);
}

MSG g_filtered;
bool SwallowAppPlusTwo(MSG* message) {
    if (message->message != WM_APP + 2) return false;
    g_filtered = *message;
    return true;
}

TEST_F(WaitsTest, DialogFilterSeesMessagesBeforeDispatch) {
    SetDialogMessageFilter(SwallowAppPlusTwo);
    g_filtered = {};
    PostMessageW(window_.get(), WM_APP + 2, 0, 0);
    PostMessageW(window_.get(), WM_APP + 3, 0, 0);
    PumpPendingMessages();
    EXPECT_EQ(g_filtered.message, static_cast<UINT>(WM_APP + 2));
    EXPECT_EQ(g_handled, (std::vector<UINT>{WM_APP + 3}));
}

TEST_F(WaitsTest, ResponsiveWaitLastsTwoSecondsAndDispatchesMeanwhile) {
    HWND target = window_.get();
    std::thread poster([target] {
        Sleep(500);
        PostMessageW(target, WM_APP + 4, 0, 0);
    });
    const ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(ResponsiveWait(2, 1));
    const ULONGLONG elapsed = GetTickCount64() - start;
    poster.join();

    EXPECT_GE(elapsed, 1900u);
    EXPECT_LT(elapsed, 4000u);
    ASSERT_EQ(g_handled, (std::vector<UINT>{WM_APP + 4}));
    EXPECT_LT(g_app_handled_at - start, 1500u);
}

TEST_F(WaitsTest, ResponsiveWaitWithQuitQueuedStillWaits) {
    // WM_QUIT is never taken by the pumps; the wait must neither end early nor spin on it.
    PostQuitMessage(0);
    const ULONGLONG start = GetTickCount64();
    ResponsiveWait(300);
    EXPECT_GE(GetTickCount64() - start, 250u);
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
}

// Stands in for CreateWaitableTimerExW: records the flags asked for and refuses the
// high-resolution timer, or every timer, as the row says.
std::vector<DWORD> g_timer_flags;
int g_refuse = 0;  // 0: nothing, 1: high-resolution timers, 2: every timer

HANDLE WINAPI RefusingTimerCreator(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name, DWORD flags,
                                   DWORD access) {
    g_timer_flags.push_back(flags);
    if (g_refuse == 2 || (g_refuse == 1 && (flags & 0x2))) return nullptr;
    return CreateWaitableTimerExW(attributes, name, flags, access);
}

TEST_F(WaitsTest, RefusedTimersFallBackAndTheWaitStillHolds) {
    // High-resolution first; the classic timer (flags 0) only when that is refused.
    const std::vector<DWORD> asked[] = {{0x2}, {0x2, 0}, {0x2, 0}};
    HWND target = window_.get();
    for (g_refuse = 0; g_refuse <= 2; ++g_refuse) {
        g_timer_flags.clear();
        g_handled.clear();
        TimerCreator previous = SetTimerCreator(RefusingTimerCreator);
        std::thread poster([target] {
            Sleep(100);
            PostMessageW(target, WM_APP + 5, 0, 0);
        });
        const ULONGLONG start = GetTickCount64();
        ResponsiveWait(300);
        const ULONGLONG elapsed = GetTickCount64() - start;
        poster.join();
        SetTimerCreator(previous);

        EXPECT_EQ(g_timer_flags, asked[g_refuse]) << g_refuse;
        EXPECT_GE(elapsed, 300u) << g_refuse;
        EXPECT_EQ(g_handled, (std::vector<UINT>{WM_APP + 5})) << g_refuse;
        EXPECT_LT(g_app_handled_at - start, 250u) << g_refuse;
    }
}

TEST_F(WaitsTest, ShortAndZeroWaitsReturn) {
    const ULONGLONG start = GetTickCount64();
    for (int i = 0; i < 20; ++i) ResponsiveWait(1);
    ResponsiveWait(0);
    ResponsiveWait(-5, 1);
    ResponsiveWait(1, 9);  // unknown unit: milliseconds
    EXPECT_LT(GetTickCount64() - start, 2000u);
}

}  // namespace
