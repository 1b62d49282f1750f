// Simulated MEmuHeadless.exe: the process of one running VM. Its command line names the VM
// ("--comment MEmu_n --startvm ..."); it owns a hidden window tree shaped like a VM window
// (top, two children, the second with a child holding three children) and runs until it is
// terminated. Switch rules for "MEmuHeadless.exe *" make it burn CPU, hold memory or stop
// taking window messages (see sim/README.md).
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "sim/sim_common.h"
#include "win/unique_resource.h"

namespace {

// What the switches file asks of this VM process, read once at its start.
struct Behaviour {
    bool burn = false;         // one thread spins for the life of the process
    size_t hold_bytes = 0;     // private memory committed, touched and kept
    bool hung_window = false;  // the window thread stops taking messages once ready
};

// The VM named by "--comment <name>" on the command line, -1 when none.
int VmIndexOfCommandLine() {
    const std::vector<std::string> args = sim::ProcessArguments();
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--comment") return sim::IndexOfVmName(args[i + 1]);
    }
    return -1;
}

Behaviour ReadBehaviour(const std::string& root, const std::string& tool) {
    Behaviour behaviour;
    for (const std::string& word : sim::SwitchBehaviours(root, tool, "*", VmIndexOfCommandLine())) {
        if (word == "burn") {
            behaviour.burn = true;
        } else if (word.rfind("hold=", 0) == 0) {
            behaviour.hold_bytes = std::strtoull(word.c_str() + 5, nullptr, 10);
        } else if (word == "hungwindow") {
            behaviour.hung_window = true;
        }
    }
    return behaviour;
}

DWORD WINAPI Spin(void*) {
    volatile uint64_t turns = 0;
    for (;;) turns = turns + 1;
}

void StartBurning() {
    UniqueHandle thread(CreateThread(nullptr, 0, Spin, nullptr, 0, nullptr));
}

// Commits the memory and writes to every page of it, so that it is backed; never freed.
void HoldMemory(size_t bytes) {
    auto* memory =
        static_cast<volatile char*>(VirtualAlloc(nullptr, bytes, MEM_COMMIT, PAGE_READWRITE));
    if (!memory) return;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    for (size_t at = 0; at < bytes; at += system.dwPageSize) memory[at] = 1;
}

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
    const std::string root = sim::RootFolder();
    const std::string tool = sim::ExeName();
    sim::AppendJournal(root, tool, sim::RawArguments());
    const Behaviour behaviour = ReadBehaviour(root, tool);
    if (behaviour.burn) StartBurning();
    if (behaviour.hold_bytes > 0) HoldMemory(behaviour.hold_bytes);

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

    UniqueHandle ready(
        CreateEventW(nullptr, TRUE, FALSE, sim::VmReadyEventName(GetCurrentProcessId()).c_str()));
    if (ready) SetEvent(ready.get());
    // A hung VM window: the thread that owns it never looks at its messages again.
    if (behaviour.hung_window) {
        for (;;) Sleep(INFINITE);
    }

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
