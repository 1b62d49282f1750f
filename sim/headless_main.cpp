// Simulated MEmuHeadless.exe: the process of one running VM. Its command line names the VM
// ("--comment MEmu_n --startvm ..."); it owns a hidden window tree shaped like a VM window
// (top, two children, the second with a child holding three children) and runs until it is
// terminated.
#include <windows.h>

#include "sim/sim_common.h"

namespace {

HWND Child(HWND parent, const wchar_t* title) {
    return CreateWindowExW(0, L"STATIC", title, WS_CHILD, 0, 0, 10, 10, parent, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

// Places `later` right below `earlier` among their siblings, so that walking "next" from
// `earlier` reaches `later` whatever order the system gave new windows.
void PlaceAfter(HWND earlier, HWND later) {
    SetWindowPos(later, earlier, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    sim::AppendJournal(sim::RootFolder(), sim::ExeName(), sim::RawArguments());

    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = instance;
    window_class.lpszClassName = sim::kVmWindowClass;
    RegisterClassW(&window_class);

    HWND top = CreateWindowExW(0, sim::kVmWindowClass, L"MEmu", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240,
                               nullptr, nullptr, instance, nullptr);
    if (top) {
        HWND title_bar = Child(top, L"title bar");
        HWND frame = Child(top, L"frame");
        HWND canvas = Child(frame, L"canvas");
        HWND toolbar = Child(canvas, L"toolbar");
        HWND status = Child(canvas, L"status");
        HWND render = Child(canvas, L"render");
        SetWindowPos(title_bar, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        PlaceAfter(title_bar, frame);
        SetWindowPos(toolbar, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        PlaceAfter(toolbar, status);
        PlaceAfter(status, render);
    }

    HANDLE ready =
        CreateEventW(nullptr, TRUE, FALSE, sim::VmReadyEventName(GetCurrentProcessId()).c_str());
    if (ready) SetEvent(ready);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
