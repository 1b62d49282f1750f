// Program start: the fixed start-up sequence, the message loop and the orderly end.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <string>

#include "app/end_routine.h"
#include "app/events.h"
#include "app/fatal_box_win.h"
#include "app/fault_sites.h"
#include "app/main_window.h"
#include "app/program_state.h"
#include "control/control_factory_win.h"
#include "process/waits_win.h"
#include "text/fatal_error.h"
#include "win/dll_search.h"
#include "win/program_folder.h"
#include "win/system_function.h"

namespace {

// The program folder becomes the current directory. The folder is kept with its trailing
// backslash, so a program in a drive's root makes that root current ("C:" alone would name
// the drive's last directory instead).
void MakeProgramFolderCurrent() {
    const std::wstring folder = ProgramFolder();
    if (!folder.empty()) SetCurrentDirectoryW(folder.c_str());
}

// The standard controls, drawn by the common controls version 6 the manifest asks for. The
// library is looked up at run time (it is not one Windows always maps from the system folder);
// see SystemLibrary for where it comes from.
void InitStandardControls() {
    static SystemFunction<decltype(&InitCommonControlsEx)> init_common_controls(
        "comctl32.dll", "InitCommonControlsEx");
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    if (auto init = init_common_controls.TryGet()) init(&controls);
}

// Tab and Shift+Tab move between the tab stops; Enter still breaks lines in the log box,
// which asks for it.
void RunMessageLoop(MainWindow& window) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window.HandleDialogKeys(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// The window whose keyboard navigation the nested message pumps (during a running command)
// apply too, so Tab keeps moving between controls while a run is in progress.
MainWindow* g_keyboard_window = nullptr;

bool FilterDialogKeys(MSG* message) {
    return g_keyboard_window && g_keyboard_window->HandleDialogKeys(*message);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    LoadDllsFromSystemFolderOnly();
    InstallFatalBox();

    // 1. Runtime: OLE for this thread (the shortcut reading uses automation objects), the
    //    program folder as the current directory, the standard controls.
    OleInitialize(nullptr);
    MakeProgramFolderCurrent();
    InitStandardControls();

    // 2. Program-wide state. Building the control object runs install-location discovery and
    //    makes the emulator's folder current when it finds one.
    ProgramState& state = State();
    state.control = CreateEmulatorControl();
    state.vms = VmList();

    // 3. The end routine, run after the message loop (a fatal error drops it).
    end_routine::Register(ReleaseProgramState);

    // 4. The main window; its created event runs before the loop starts.
    MainWindow window;
    g_keyboard_window = &window;
    SetDialogMessageFilter(FilterDialogKeys);
    if (!window.Load({OnMainWindowCreated, OnRefreshClicked, OnOneKeyClicked})) {
        fatal::Raise(fatal::kNoCode, fatal::WindowLoadFailedText(), fault_site::kLoadMainWindow);
    }

    // 5. Until the window is closed.
    RunMessageLoop(window);
    SetDialogMessageFilter(nullptr);
    g_keyboard_window = nullptr;

    // 6. The orderly end.
    end_routine::Run();
    OleUninitialize();
    return 0;
}
