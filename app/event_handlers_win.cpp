// The three bound events: window created, 按钮_刷新模拟器 and 按钮_一键生成快照.
#include <windows.h>

#include "app/events.h"
#include "app/main_window.h"
#include "app/program_state.h"
#include "cloning/one_key_run.h"
#include "cloning/run_control.h"
#include "install/console_build_store_win.h"
#include "install/discovery_win.h"
#include "process/command_runner_win.h"
#include "process/waits_win.h"
#include "win/wide_text.h"

namespace {

// 301: the VM list refresh.
constexpr fatal::Site kRefreshRecord{301, 1};

RunControl g_run;

// The one-key run's view of the window, the runner and the file system.
class WindowRunHost : public OneKeyRunHost {
public:
    explicit WindowRunHost(MainWindow& window) : window_(window) {}

    std::string DiscoverInstallDirectory() override { return ::DiscoverInstallDirectory(); }
    void MakeDirectoryCurrent(const std::string& folder) override {
        SetCurrentDirectoryW(WideFromGbk(folder).c_str());
    }
    int32_t SelectedVmIndex() override {
        return window_.ComboItemValue(window_.SelectedComboIndex());
    }
    int64_t CloneCount() override { return CloneCountOf(window_.Text(Control::编辑框_数量)); }
    CommandOutcome RunCommand(const ToolLine& line) override {
        bool abandoned = false;
        std::string output = RunCommandUntil(
            line.Text(),
            [] { return g_run.stop_requested && GetTickCount() - g_run.stop_tick >= kStopGraceMs; },
            &abandoned);
        // The window judges a step by its success word alone, never by the tool's exit code.
        return {std::move(output), /*finished=*/!abandoned, /*failed=*/false};
    }
    void AppendLog(const std::string& text) override { window_.AppendLog(text); }
    void PumpPendingMessages() override { ::PumpPendingMessages(); }
    bool StopRequested() override { return g_run.stop_requested; }

private:
    MainWindow& window_;
};

void FillVmList(MainWindow& window) {
    ProgramState& state = State();
    window.ClearCombo();
    state.control->ListVms(state.vms);
    const int count = state.vms.Count();
    for (int i = 1; i <= count; ++i) {
        const VmRecord& vm = state.vms.At(i, kRefreshRecord);
        window.AddComboItem(vm.title, vm.index);
    }
    window.SelectComboItem(0);
}

// A click that arrives while a refresh is listing (its command pumps messages) does not start a
// nested refresh, whose items the outer one would then append to: the running refresh lists
// once more when it is done.
bool g_refreshing = false;
bool g_refresh_again = false;

void RefreshVmList(MainWindow& window) {
    if (g_refreshing) {
        g_refresh_again = true;
        return;
    }
    g_refreshing = true;
    do {
        g_refresh_again = false;
        FillVmList(window);
    } while (g_refresh_again);
    g_refreshing = false;
}

void RequestStop() {
    if (g_run.stop_requested) return;
    g_run.stop_requested = true;
    g_run.stop_tick = GetTickCount();
}

// Asks whether to stop the run in progress; a second click never starts a second run.
void AskToStopRun(MainWindow& window) {
    if (g_run.asking || g_run.stop_requested) return;
    g_run.asking = true;
    int answer = MessageBoxW(
        window.hwnd(), WideFromGbk("一键生成快照正在进行。\r\n是否在当前命令完成后停止？").c_str(),
        WideFromGbk(kMainWindowTitle).c_str(), MB_YESNO | MB_ICONQUESTION);
    g_run.asking = false;
    if (answer == IDYES) RequestStop();
}

// Closing the window during a run stops the run after the current command; the window closes
// when the run has logged its last line.
bool AllowClose() {
    if (!g_run.active) return true;
    RequestStop();
    g_run.close_pending = true;
    return false;
}

}  // namespace

void OnMainWindowCreated(MainWindow& window) {
    window.SetCloseRequestHandler(AllowClose);
    ProgramState& state = State();
    state.install_dir = ::DiscoverInstallDirectory();
    window.SetText(Control::编辑框_模拟器目录, state.install_dir);
    RefreshVmList(window);
}

void OnRefreshClicked(MainWindow& window) {
    RefreshVmList(window);
}

void OnOneKeyClicked(MainWindow& window) {
    if (g_run.active) {
        AskToStopRun(window);
        return;
    }
    g_run = RunControl{};
    g_run.active = true;

    ProgramState& state = State();
    ProgramBuildStore builds;
    AtomicFileReplacer files;
    const ConsoleChoice choice{window.IsChecked(Control::单选框1),
                               window.IsChecked(Control::单选框2)};
    for (const std::string& line : WriteManagerConsole(choice, state.install_dir, builds, files))
        window.AppendLog(line);

    WindowRunHost host(window);
    RunOneKey(host, {state.install_dir, state.tools_dir});

    const bool close = g_run.close_pending;
    g_run = RunControl{};
    if (close) DestroyWindow(window.hwnd());
}
