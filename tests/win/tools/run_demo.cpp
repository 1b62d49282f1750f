// Drives the running program the way a user would on a machine without a display: waits for the
// window, sets the clone count, clicks 一键生成快照, waits for the completion line, clicks
// 按钮_刷新模拟器, and prints the log and the VM list (UTF-8). Exit code 0 when the run completed.
#include <windows.h>

#include <cstdio>
#include <string>

#include "support/app_driver.h"
#include "win/wide_text.h"

namespace {

void PrintUtf8(const std::string& gbk) {
    std::wstring wide = WideFromGbk(gbk);
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                        nullptr, nullptr);
    fwrite(utf8.data(), 1, utf8.size(), stdout);
    fflush(stdout);
}

HWND FindAppWindow() {
    HWND window = nullptr;
    WaitUntil(
        [&] {
            window = FindWindowW(nullptr, WideFromGbk(AppTitle()).c_str());
            return window != nullptr && IsWindowVisible(window);
        },
        30000);
    return window;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string step = argc > 1 ? argv[1] : "run";
    AppDriver app;
    if (!app.Attach(FindAppWindow())) {
        std::puts("the program's window did not appear");
        return 1;
    }
    if (step == "close") {
        app.Close();
        return 0;
    }
    app.SetText(AppControl::kCount, "3");
    const size_t before = app.Text(AppControl::kLog).size();
    app.Click(AppControl::kOneKey);
    if (!app.WaitForLogEnding("-------完成--------\r\n", 120000, before)) {
        std::puts("the run did not complete");
        return 1;
    }
    app.Click(AppControl::kRefresh);
    WaitUntil([&] { return app.ComboCount() >= 6; }, 20000);
    PrintUtf8("编辑框_日志:\r\n" + app.Text(AppControl::kLog));
    PrintUtf8("组合框1: " + std::to_string(app.ComboCount()) + " VMs\r\n");
    return 0;
}
