// The command runner against real child processes (tools/test_child.cpp) started through the
// system's command interpreter.
#include "process/command_runner_win.h"
#include "process/direct_runner_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "support/win_test_support.h"
#include "win/unique_resource.h"

namespace {

class CommandRunnerTest : public testing::Test {
protected:
    // Tools are started by their bare names from the current directory, as the program does.
    void SetUp() override { ASSERT_TRUE(SetCurrentDirectoryA(BinDir().c_str())); }
};

ULONGLONG ElapsedSince(ULONGLONG start) {
    return GetTickCount64() - start;
}

struct OutputCase {
    const char* command;
    bool strip;
    std::string expected;
};

TEST_F(CommandRunnerTest, ReturnsOutputAndStripsOnlyWholeLineEndPairs) {
    const OutputCase cases[] = {
        {"test_child.exe out:x\\r\\n", false, "x\r\n"},
        {"test_child.exe out:x\\r\\n", true, "x"},
        {"test_child.exe out:x\\r\\n\\r\\n", true, "x"},
        {"test_child.exe out:x\\n", true, "x\n"},
        {"test_child.exe out:x\\r", true, "x\r"},
        {"test_child.exe out:x\\n\\r\\n", true, "x\n"},
        {"test_child.exe out:\\r\\n", true, ""},
        {"test_child.exe", false, ""},
        {"test_child.exe err:E\\r\\n", false, "E\r\n"},
        {"test_child.exe out:A sleep:300 err:B sleep:300 out:C", false, "ABC"},
        {"test_child.exe out:A & test_child.exe out:B", false, "AB"},
        {"test_child.exe out:ab\\0cd", false, "ab"},
        // A zero byte cuts only its own chunk, also where a chunk begins or ends.
        {"test_child.exe out:ab sleep:300 out:\\0cd sleep:300 out:ef", false, "abef"},
        {"test_child.exe out:ab\\0 sleep:300 out:cd", false, "abcd"},
        {"test_child.exe out:\\s逍遥\\s", false, " 逍遥 "},
    };
    for (const OutputCase& c : cases) {
        EXPECT_EQ(RunCommand(c.command, 0, nullptr, c.strip), c.expected) << c.command;
    }
}

TEST_F(CommandRunnerTest, LargeOutputArrivesWhole) {
    std::string output = RunCommand("test_child.exe flood:300000");
    ASSERT_EQ(output.size(), 300000u);
    for (size_t i = 0; i < output.size(); i += 997) {
        ASSERT_EQ(output[i], static_cast<char>('0' + i % 10)) << i;
    }
}

TEST_F(CommandRunnerTest, FiftyMegabytesArriveWhole) {
    const size_t size = 50u * 1000 * 1000;
    std::string output = RunCommand("test_child.exe flood:" + std::to_string(size));
    ASSERT_EQ(output.size(), size);
    for (size_t i = 0; i < output.size(); i += 1000003) {
        ASSERT_EQ(output[i], static_cast<char>('0' + i % 10)) << i;
    }
}

TEST_F(CommandRunnerTest, OutputWrittenJustBeforeExitIsKept) {
    for (int i = 0; i < 15; ++i) {
        ASSERT_EQ(RunCommand("test_child.exe out:LAST"), "LAST") << "run " << i;
    }
}

TEST_F(CommandRunnerTest, MissingProgramReturnsInterpreterMessage) {
    EXPECT_FALSE(RunCommand("no_such_program_7f3a.exe").empty());
}

TEST_F(CommandRunnerTest, TimeOutStopsSilentRunButLeavesChildRunning) {
    const ULONGLONG start = GetTickCount64();
    std::string output = RunCommand("test_child.exe pid sleep:5000 out:late", 1000);
    const ULONGLONG elapsed = ElapsedSince(start);
    EXPECT_GE(elapsed, 800u);
    EXPECT_LT(elapsed, 3000u);

    ASSERT_EQ(output.rfind("PID=", 0), 0u) << output;
    EXPECT_EQ(output.find("late"), std::string::npos);
    const DWORD pid = static_cast<DWORD>(std::stoul(output.substr(4)));
    UniqueHandle child(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
    ASSERT_TRUE(child);
    EXPECT_EQ(WaitForSingleObject(child.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    TerminateProcess(child.get(), 0);
    WaitForSingleObject(child.get(), 5000);
}

TEST_F(CommandRunnerTest, TimeOutBelowOneNeverStopsTheRun) {
    for (int timeout : {0, -1, -1000}) {
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(RunCommand("test_child.exe sleep:1200 out:done", timeout), "done") << timeout;
        EXPECT_GE(ElapsedSince(start), 1100u) << timeout;
    }
}

// Takes its time over each chunk, so the child always has written more by the next poll.
int __stdcall SlowReader(const char*) {
    Sleep(20);
    return 0;
}

TEST_F(CommandRunnerTest, ChildWritingWithoutPauseIsReadPastTheTimeOut) {
    const ULONGLONG start = GetTickCount64();
    // The time-out leaves room for the interpreter and the child to start on a busy machine.
    std::string output = RunCommand("test_child.exe stream:3000", 1500, SlowReader);
    EXPECT_GE(GetTickCount64() - start, 2900u);
    EXPECT_NE(output.find("END"), std::string::npos) << output.size() << " bytes";
}

std::string g_seen_chunks;

int __stdcall StopAtOnce(const char* chunk) {
    g_seen_chunks += chunk;
    return 1;
}

int __stdcall KeepGoing(const char* chunk) {
    g_seen_chunks += chunk;
    return 0;
}

int __stdcall StopAtB(const char* chunk) {
    return std::string(chunk).find('B') != std::string::npos;
}

TEST_F(CommandRunnerTest, CallbackSeesChunksAndCanStopTheRun) {
    g_seen_chunks.clear();
    EXPECT_EQ(RunCommand("test_child.exe out:first sleep:2000 out:second", 0, StopAtOnce), "");
    EXPECT_EQ(g_seen_chunks, "first");

    g_seen_chunks.clear();
    EXPECT_EQ(RunCommand("test_child.exe out:a sleep:200 out:b", 0, KeepGoing), "ab");
    EXPECT_EQ(g_seen_chunks, "ab");

    EXPECT_EQ(RunCommand("test_child.exe out:A sleep:300 out:B sleep:300 out:C", 0, StopAtB), "A");
}

// A visible window that counts what it handles, and whether that happened during a run.
std::atomic<bool> g_in_run{false};
int g_app_messages_in_run = 0;
int g_paints_in_run = 0;
int g_clicks_in_run = 0;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_APP:
            if (g_in_run) ++g_app_messages_in_run;
            return 0;
        case WM_LBUTTONDOWN:
            if (g_in_run) ++g_clicks_in_run;
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            BeginPaint(window, &paint);
            EndPaint(window, &paint);
            if (g_in_run) ++g_paints_in_run;
            return 0;
        }
    }
    return DefWindowProcW(window, message, w, l);
}

TEST_F(CommandRunnerTest, WindowRepaintsAndTakesClicksDuringARun) {
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = CountingProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"RunnerTestWindow";
    RegisterClassW(&window_class);
    UniqueWindow window(CreateWindowExW(0, L"RunnerTestWindow", L"runner", WS_OVERLAPPEDWINDOW, 100,
                                        100, 300, 200, nullptr, nullptr, window_class.hInstance,
                                        nullptr));
    ASSERT_TRUE(window);
    ShowWindow(window.get(), SW_SHOW);
    UpdateWindow(window.get());
    SetForegroundWindow(window.get());
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);

    HWND target = window.get();
    std::thread poker([target] {
        Sleep(400);
        PostMessageW(target, WM_APP, 0, 0);
        InvalidateRect(target, nullptr, TRUE);
        // A real click in the middle of the window, through the system's input queue.
        RECT rect;
        GetWindowRect(target, &rect);
        SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
        INPUT clicks[2] = {};
        clicks[0].type = clicks[1].type = INPUT_MOUSE;
        clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        SendInput(2, clicks, sizeof(INPUT));
    });
    g_in_run = true;
    std::string output = RunCommand("test_child.exe sleep:1500 out:ok");
    g_in_run = false;
    poker.join();

    EXPECT_EQ(output, "ok");
    EXPECT_EQ(g_app_messages_in_run, 1);
    EXPECT_GE(g_paints_in_run, 1);
    EXPECT_EQ(g_clicks_in_run, 1);
}

}  // namespace

namespace {

// The console companion's runner: the tool itself, by its full path, from any thread.
TEST_F(CommandRunnerTest, DirectRunnerStartsTheToolItselfAndSaysHowItEnded) {
    DirectToolRunner runner(/*console_per_tool=*/true);
    const std::string folder = BinDir();
    const ToolRun ran = runner.Run({folder, "test_child.exe", " out:a&b|c exit:3"}, {});
    EXPECT_EQ(ran.end, RunEnd::kExited);
    EXPECT_EQ(ran.exit_code, 3u);
    EXPECT_EQ(ran.output, "a&b|c");  // no shell read the line

    // 259 is STILL_ACTIVE's value: the end of such a child is seen all the same.
    const ToolRun still_active = runner.Run({folder, "test_child.exe", " exit:259"}, {});
    EXPECT_EQ(still_active.end, RunEnd::kExited);
    EXPECT_EQ(still_active.exit_code, 259u);
    EXPECT_EQ(RunCommand("test_child.exe out:x exit:259"), "x");

    const ToolRun missing = runner.Run({folder, "no_such_tool_7f3a.exe", " x"}, {});
    EXPECT_EQ(missing.end, RunEnd::kNotStarted);
    EXPECT_EQ(missing.error.rfind("no_such_tool_7f3a.exe could not be started from " + folder, 0),
              0u)
        << missing.error;

    // Side by side: each run has its own pipe and process.
    std::vector<std::string> outputs(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < outputs.size(); ++i) {
        threads.emplace_back([&, i] {
            outputs[i] =
                runner.Run({folder, "test_child.exe", " sleep:100 out:" + std::to_string(i)}, {})
                    .output;
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (size_t i = 0; i < outputs.size(); ++i) EXPECT_EQ(outputs[i], std::to_string(i));
}

}  // namespace
