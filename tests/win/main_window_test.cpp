// The main window, checked two ways: the real program started as a child process (layout, tab
// order, keyboard, integer input, closing, a screenshot), and a MainWindow built inside this
// test process (the operations other code calls, the events, the close request). Also what
// both program files carry: icon, manifests, version information.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app_version.h"
#include "support/win_test_support.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

#include <tlhelp32.h>

namespace {

const wchar_t kTitle[] = L"Tarvex逍遥模拟器多开快照工具一键版";
constexpr int kWidth = 380;
constexpr int kHeight = 392;

// Asks the control itself, which also works across processes (GetWindowText does not).
std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
    text.resize(static_cast<size_t>(
        SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

RECT RectInParent(HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// What every control must look like, independent of how the program builds it. Rows are in
// tab order, which is also the z-order from the top.
struct ExpectedControl {
    const char* name;
    const wchar_t* window_class;
    int left, top, width, height;  // height -1: set by the system (combo box)
    const wchar_t* text;           // null: filled at run time
    DWORD type_mask, type;         // the kind bits of the class
    DWORD required, forbidden;
    DWORD ex_required;
};

constexpr DWORD kLabelForbidden = WS_TABSTOP | SS_NOTIFY;
constexpr DWORD kEditForbidden = WS_HSCROLL | WS_VSCROLL | ES_READONLY | ES_NUMBER | ES_UPPERCASE |
                                 ES_LOWERCASE | ES_PASSWORD | ES_NOHIDESEL;
constexpr DWORD kSingleLineForbidden = kEditForbidden | ES_MULTILINE;
constexpr DWORD kEditAlign = ES_LEFT | ES_CENTER | ES_RIGHT;
constexpr DWORD kComboKind = CBS_SIMPLE | CBS_DROPDOWN | CBS_DROPDOWNLIST;

// clang-format off
const ExpectedControl kExpected[kControlCount] = {
    {"透明标签5", L"Static", 8, 176, 352, 16, L"多开快照技术——磁盘占用减少72%，游戏启动速度提升10倍", SS_TYPEMASK, SS_LEFT, 0, kLabelForbidden, 0},
    {"单选框2", L"Button", 278, 99, 80, 24, L"版本7.2.2", BS_TYPEMASK, BS_AUTORADIOBUTTON, WS_TABSTOP | WS_GROUP, 0, 0},
    {"单选框1", L"Button", 184, 98, 80, 24, L"版本7.2.1", BS_TYPEMASK, BS_AUTORADIOBUTTON, WS_TABSTOP, WS_GROUP, 0},
    {"编辑框_日志", L"Edit", 8, 200, 352, 152, nullptr, kEditAlign, ES_LEFT, WS_TABSTOP | ES_MULTILINE, kEditForbidden, WS_EX_CLIENTEDGE},
    {"按钮_刷新模拟器", L"Button", 264, 36, 96, 24, L"刷新模拟器", BS_TYPEMASK, BS_PUSHBUTTON, WS_TABSTOP, 0, 0},
    {"按钮_一键生成快照", L"Button", 80, 130, 240, 32, L"一键生成快照", BS_TYPEMASK, BS_PUSHBUTTON, WS_TABSTOP, 0, 0},
    {"透明标签4", L"Static", 8, 98, 64, 24, L"快照数量", SS_TYPEMASK, SS_LEFT, 0, kLabelForbidden, 0},
    {"编辑框_数量", L"Edit", 75, 98, 88, 24, L"10", kEditAlign, ES_CENTER, WS_TABSTOP, kSingleLineForbidden, WS_EX_CLIENTEDGE},
    {"编辑框2", L"Edit", 75, 68, 168, 24, L"MEmu", kEditAlign, ES_CENTER, WS_TABSTOP, kSingleLineForbidden, WS_EX_CLIENTEDGE},
    {"透明标签3", L"Static", 8, 68, 64, 24, L"快照名称", SS_TYPEMASK, SS_LEFT, 0, kLabelForbidden, 0},
    {"组合框1", L"ComboBox", 75, 38, 153, -1, nullptr, kComboKind, CBS_DROPDOWNLIST, WS_TABSTOP, CBS_SORT | CBS_OWNERDRAWFIXED | CBS_OWNERDRAWVARIABLE, 0},
    {"透明标签2", L"Static", 8, 38, 64, 24, L"快照母盘", SS_TYPEMASK, SS_LEFT, 0, kLabelForbidden, 0},
    {"编辑框_模拟器目录", L"Edit", 75, 8, 287, 24, nullptr, kEditAlign, ES_LEFT, WS_TABSTOP, kSingleLineForbidden, WS_EX_CLIENTEDGE},
    {"透明标签1", L"Static", 8, 8, 64, 24, L"模拟器路径", SS_TYPEMASK, SS_LEFT, 0, kLabelForbidden, 0},
};
// clang-format on

// The program started as a child process; closed (or, failing that, killed) at the end.
class RunningProgram {
public:
    RunningProgram() {
        std::wstring line = L"\"" + WideFromGbk(BinDir() + "MEmuSnapshotTool.exe") + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &info)) {
            return;
        }
        CloseHandle(info.hThread);
        process_.reset(info.hProcess);
        process_id_ = info.dwProcessId;
        for (int i = 0; i < 300 && !window_; ++i) {
            EnumWindows(FindOurWindow, reinterpret_cast<LPARAM>(this));
            if (!window_ && WaitForSingleObject(process_.get(), 100) == WAIT_OBJECT_0) return;
        }
        WaitForInputIdle(process_.get(), 30000);
        WaitForStartUpCommands();
    }
    ~RunningProgram() {
        if (!process_ || WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0) return;
        if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0)
            TerminateProcess(process_.get(), 1);
    }

    // The window is visible while its created event still lists VMs through a command, in a
    // nested message pump where sent messages overtake posted keys. Tests start once the
    // program has no child process left.
    void WaitForStartUpCommands() const {
        for (int quiet = 0, i = 0; quiet < 3 && i < 300; ++i) {
            quiet = HasChildProcess() ? 0 : quiet + 1;
            Sleep(100);
        }
        Settle();
    }
    bool HasChildProcess() const {
        UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
             more = Process32NextW(snapshot.get(), &entry)) {
            if (entry.th32ParentProcessID == process_id_) return true;
        }
        return false;
    }

    HWND window() const { return window_; }
    HANDLE process() const { return process_.get(); }

    // Direct children in z-order, top first.
    std::vector<HWND> Children() const {
        std::vector<HWND> children;
        for (HWND c = GetWindow(window_, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            children.push_back(c);
        return children;
    }
    HWND Child(Control control) const {
        std::vector<HWND> children = Children();
        size_t i = static_cast<size_t>(control);
        return i < children.size() ? children[i] : nullptr;
    }

    HWND Focus() const {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(window_, nullptr), &info);
        return info.hwndFocus;
    }

    // Returns once the program has handled what was posted to it, and what that posted in
    // turn (the characters of a key): a marker posted behind it, the install folder box's
    // modified flag (no test types there, the program never reads it), is seen set, twice.
    // A sent message is no such barrier: under Wine the program's thread answers sent
    // messages while it waits inside the handling of an earlier posted one.
    void Settle() const {
        HWND marker = Child(Control::编辑框_模拟器目录);
        for (int round = 0; round < 2; ++round) {
            SendMessageW(marker, EM_SETMODIFY, FALSE, 0);
            PostMessageW(marker, EM_SETMODIFY, TRUE, 0);
            for (int i = 0; i < 1000 && !SendMessageW(marker, EM_GETMODIFY, 0, 0); ++i) Sleep(5);
        }
    }

    // A key as the keyboard would deliver it, through the program's message loop.
    void PressKey(HWND target, WPARAM key) const {
        PostMessageW(target, WM_KEYDOWN, key, 1);
        PostMessageW(target, WM_KEYUP, key, 0xC0000001);
        Settle();
    }

private:
    static BOOL CALLBACK FindOurWindow(HWND window, LPARAM param) {
        auto* self = reinterpret_cast<RunningProgram*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid != self->process_id_ || WindowText(window) != kTitle) return TRUE;
        self->window_ = window;
        return FALSE;
    }

    UniqueHandle process_;
    DWORD process_id_ = 0;
    HWND window_ = nullptr;
};

// Every comctl32.dll the process has loaded, as full paths.
std::vector<std::wstring> CommonControlsModules(DWORD process_id) {
    std::vector<std::wstring> paths;
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process_id));
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32FirstW(snapshot.get(), &entry); more;
         more = Module32NextW(snapshot.get(), &entry)) {
        if (lstrcmpiW(entry.szModule, L"comctl32.dll") == 0) paths.push_back(entry.szExePath);
    }
    return paths;
}

TEST(ProgramWindow, HasTheTitleSizePlacementFrameAndVersion6Controls) {
    RunningProgram program;
    HWND window = program.window();
    ASSERT_NE(window, nullptr) << "the program's window did not appear";

    // The common controls come from the assembly store, as the manifest asks (a load by the
    // system folder path would give the older, unthemed copy).
    const std::vector<std::wstring> controls =
        CommonControlsModules(GetProcessId(program.process()));
    EXPECT_FALSE(controls.empty());
    for (std::wstring path : controls) {
        CharLowerW(path.data());
        EXPECT_NE(path.find(L"\\winsxs\\"), std::wstring::npos) << GbkFromWide(path);
    }

    RECT r{};
    GetWindowRect(window, &r);
    EXPECT_EQ(r.right - r.left, kWidth);
    EXPECT_EQ(r.bottom - r.top, kHeight);
    EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2);
    EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2);

    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE),
              static_cast<DWORD>(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE));
    EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME | WS_CHILD | WS_DISABLED), 0u);
}

// The program file carries the seven-image 32-bit icon (256 pixels stored as PNG) and a
// manifest asking for administrator rights.
TEST(ProgramFile, CarriesTheIconAndTheManifest) {
    UniqueModule exe(LoadLibraryExW(WideFromGbk(BinDir() + "MEmuSnapshotTool.exe").c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(exe);
    HRSRC group =
        FindResourceW(exe.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    const auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(exe.get(), group)));
    ASSERT_NE(dir, nullptr);
    WORD count = 0;
    std::memcpy(&count, dir + 4, 2);
    ASSERT_EQ(count, 7);
    std::vector<int> sizes;
    for (int i = 0; i < count; ++i) {
        const BYTE* entry =
            dir + 6 + 14 * i;  // width, height, colours, reserved, planes, bits, bytes, id
        WORD bits = 0;
        WORD id = 0;
        std::memcpy(&bits, entry + 6, 2);
        std::memcpy(&id, entry + 12, 2);
        const int size = entry[0] == 0 ? 256 : entry[0];
        sizes.push_back(size);
        EXPECT_EQ(entry[1], entry[0]) << "square";
        EXPECT_EQ(bits, 32) << size;
        HRSRC image =
            FindResourceW(exe.get(), MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3));  // RT_ICON
        ASSERT_NE(image, nullptr);
        const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(exe.get(), image)));
        const bool png = std::memcmp(data, "\x89PNG", 4) == 0;
        EXPECT_EQ(png, size == 256) << size;
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 64, 96, 128, 256}));

    HRSRC manifest =
        FindResourceW(exe.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_NE(manifest, nullptr);
    const std::string text(
        static_cast<const char*>(LockResource(LoadResource(exe.get(), manifest))),
        SizeofResource(exe.get(), manifest));
    EXPECT_NE(text.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(
        text.find("<gdiScaling xmlns=\"http://schemas.microsoft.com/SMI/2017/WindowsSettings\">"
                  "true</gdiScaling>"),
        std::string::npos);
}

std::string ManifestOf(const std::string& program) {
    UniqueModule exe(LoadLibraryExW(WideFromGbk(BinDir() + program).c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    HRSRC found =
        exe ? FindResourceW(exe.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)) : nullptr;
    if (!found) return {};
    return std::string(static_cast<const char*>(LockResource(LoadResource(exe.get(), found))),
                       SizeofResource(exe.get(), found));
}

// Both programs carry the project's version, read back as Explorer's Properties reads it; the
// console companion runs with the caller's rights.
TEST(ProgramFile, BothProgramsCarryTheVersionInformation) {
    for (const char* program : {"MEmuSnapshotTool", "MEmuFarm"}) {
        SCOPED_TRACE(program);
        const std::wstring path = WideFromGbk(BinDir() + program + ".exe");
        DWORD ignored = 0;
        std::vector<BYTE> data(GetFileVersionInfoSizeW(path.c_str(), &ignored));
        ASSERT_FALSE(data.empty());
        ASSERT_TRUE(
            GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
        auto text = [&](const wchar_t* name) {
            void* value = nullptr;
            UINT length = 0;
            const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
            if (!VerQueryValueW(data.data(), key.c_str(), &value, &length) || length == 0)
                return std::string();
            return GbkFromWide(static_cast<const wchar_t*>(value));
        };
        EXPECT_EQ(text(L"FileVersion"), APP_VERSION);
        EXPECT_EQ(text(L"ProductVersion"), APP_VERSION);
        EXPECT_EQ(text(L"OriginalFilename"), std::string(program) + ".exe");
        EXPECT_EQ(text(L"ProductName"), "MEmu snapshot tool");
        EXPECT_NE(text(L"FileDescription"), "");
        EXPECT_EQ(text(L"CompanyName"), "");

        void* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", &fixed, &length));
        const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
        char numbers[64];
        std::snprintf(numbers, sizeof numbers, "%lu.%lu.%lu",
                      static_cast<unsigned long>(HIWORD(info->dwFileVersionMS)),
                      static_cast<unsigned long>(LOWORD(info->dwFileVersionMS)),
                      static_cast<unsigned long>(HIWORD(info->dwFileVersionLS)));
        EXPECT_EQ(std::string(numbers), APP_VERSION);
    }
    EXPECT_NE(ManifestOf("MEmuFarm.exe").find("level=\"asInvoker\""), std::string::npos);
}

TEST(ProgramWindow, ControlsMatchTheLayoutInTabAndZOrder) {
    RunningProgram program;
    ASSERT_NE(program.window(), nullptr);
    const std::vector<HWND> children = program.Children();
    ASSERT_EQ(children.size(), static_cast<size_t>(kControlCount));

    for (int i = 0; i < kControlCount; ++i) {
        const ExpectedControl& want = kExpected[i];
        HWND c = children[static_cast<size_t>(i)];
        SCOPED_TRACE(want.name);
        EXPECT_EQ(ClassOf(c), want.window_class);
        const RECT r = RectInParent(c);
        EXPECT_EQ(r.left, want.left);
        EXPECT_EQ(r.top, want.top);
        EXPECT_EQ(r.right - r.left, want.width);
        if (want.height >= 0) {
            EXPECT_EQ(r.bottom - r.top, want.height);
        }
        if (want.text) {
            EXPECT_EQ(WindowText(c), want.text);
        }

        const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(c, GWL_STYLE));
        const DWORD ex_style = static_cast<DWORD>(GetWindowLongPtrW(c, GWL_EXSTYLE));
        EXPECT_EQ(style & want.type_mask, want.type) << std::hex << style;
        EXPECT_EQ(style & want.required, want.required) << std::hex << style;
        EXPECT_EQ(style & want.forbidden, 0u) << std::hex << style;
        EXPECT_EQ(ex_style & want.ex_required, want.ex_required) << std::hex << ex_style;
        EXPECT_TRUE(style & WS_VISIBLE);
        EXPECT_FALSE(style & WS_DISABLED);
    }
}

TEST(ProgramWindow, StartsWithItsInitialState) {
    RunningProgram program;
    ASSERT_NE(program.window(), nullptr);
    EXPECT_EQ(SendMessageW(program.Child(Control::单选框2), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(program.Child(Control::单选框1), BM_GETCHECK, 0, 0), BST_UNCHECKED);

    // The notice: three lines, each ending in CR LF, naming the two builds and the tool.
    const std::wstring log = WindowText(program.Child(Control::编辑框_日志));
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        size_t end = log.find(L"\r\n", start);
        ASSERT_NE(end, std::wstring::npos) << "notice line " << i + 1 << " is not ended";
        lines.push_back(log.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_NE(lines[0].find(L"7.2.2"), std::wstring::npos);
    EXPECT_NE(lines[1].find(L"7.2.1"), std::wstring::npos);
    EXPECT_NE(lines[2].find(L"Tarvex"), std::wstring::npos);

    // The combo box is a drop-down list (no edit part to type into) whose items are one pixel
    // taller than the system's default.
    HWND combo = program.Child(Control::组合框1);
    EXPECT_EQ(GetWindow(combo, GW_CHILD), nullptr) << "a drop-down list has no edit box";
    HWND reference = CreateWindowExW(0, L"ComboBox", L"", WS_POPUP | CBS_DROPDOWNLIST, 0, 0, 153,
                                     20, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(reference, nullptr);
    SendMessageW(reference, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                 FALSE);
    const LRESULT default_item_height = SendMessageW(reference, CB_GETITEMHEIGHT, 0, 0);
    DestroyWindow(reference);
    EXPECT_EQ(SendMessageW(combo, CB_GETITEMHEIGHT, 0, 0), default_item_height + 1);
}

TEST(ProgramWindow, TabMovesThroughTheTabStopsInTableOrder) {
    RunningProgram program;
    ASSERT_NE(program.window(), nullptr);
    const Control order[] = {Control::单选框2,           Control::单选框1,
                             Control::编辑框_日志,       Control::按钮_刷新模拟器,
                             Control::按钮_一键生成快照, Control::编辑框_数量,
                             Control::编辑框2,           Control::组合框1,
                             Control::编辑框_模拟器目录, Control::单选框2};
    ASSERT_EQ(program.Focus(), program.Child(order[0])) << "the first tab stop has the focus";
    for (size_t i = 1; i < std::size(order); ++i) {
        program.PressKey(program.Focus(), VK_TAB);
        EXPECT_EQ(program.Focus(), program.Child(order[i])) << "after Tab number " << i;
    }
    // Shift is not down for the program's thread, so Tab went forwards; the dialog keys did
    // not check the radio button that was passed through.
    EXPECT_EQ(SendMessageW(program.Child(Control::单选框2), BM_GETCHECK, 0, 0), BST_CHECKED);
}

TEST(ProgramWindow, EnterBreaksALineInTheLogAndEscapeDoesNotClose) {
    RunningProgram program;
    ASSERT_NE(program.window(), nullptr);
    HWND log = program.Child(Control::编辑框_日志);
    const std::wstring before = WindowText(log);
    SendMessageW(log, EM_SETSEL, before.size(), before.size());
    PostMessageW(log, WM_KEYDOWN, VK_RETURN, 1);
    // The start-up listing may still be running in a nested message pump, where sent messages
    // overtake posted ones: give the key its turn instead of trusting one settle.
    for (int i = 0; i < 50 && WindowText(log) == before; ++i) {
        program.Settle();
        Sleep(100);
    }
    EXPECT_EQ(WindowText(log), before + L"\r\n");
    // Escape in the log neither closes the window nor changes the text.
    program.PressKey(log, VK_ESCAPE);
    EXPECT_TRUE(IsWindow(program.window()));
    EXPECT_EQ(WindowText(log), before + L"\r\n");
}

TEST(ProgramWindow, RadioButtonsFormOneGroup) {
    RunningProgram program;
    ASSERT_NE(program.window(), nullptr);
    HWND radio1 = program.Child(Control::单选框1);
    HWND radio2 = program.Child(Control::单选框2);
    SendMessageW(radio1, BM_CLICK, 0, 0);
    EXPECT_EQ(SendMessageW(radio1, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(radio2, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    SendMessageW(radio2, BM_CLICK, 0, 0);
    EXPECT_EQ(SendMessageW(radio1, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(SendMessageW(radio2, BM_GETCHECK, 0, 0), BST_CHECKED);
}

struct TypedCount {
    const wchar_t* start;     // text before typing
    const char* typed;        // characters sent one by one ('\b' is Backspace)
    int caret;                // caret put here before leaving (-1: where typing left it)
    const wchar_t* while_in;  // text before leaving the box
    const wchar_t* after;     // text after leaving it
    int caret_after;          // selection start after leaving
};

// clang-format off
const TypedCount kTypedCounts[] = {
    {L"10", "a",           -1, L"10",          L"10",         2},
    {L"",   "a1b2c",       -1, L"12",          L"12",         2},
    {L"",   "-5",          -1, L"-5",          L"-5",         2},
    {L"",   "0",           -1, L"0",           L"",           0},
    {L"",   "-",           -1, L"-",           L"",           0},
    {L"",   "007",         -1, L"007",         L"7",          1},
    {L"",   "0012",         2, L"0012",        L"12",         2},
    {L"",   "99999999999", -1, L"99999999999", L"2147483647", 10},
    {L"",   "12\b3",       -1, L"13",          L"13",         2},
    {L"",   "5 .+",        -1, L"5",           L"5",          1},
};
// clang-format on

TEST(ProgramWindow, CountBoxTakesOnlyIntegersAndNormalisesWhenLeft) {
    RunningProgram program;
    ASSERT_NE(program.window(), nullptr);
    HWND count = program.Child(Control::编辑框_数量);
    for (const TypedCount& row : kTypedCounts) {
        SCOPED_TRACE(row.typed);
        // Click into the box (it takes the focus), set the start text, type.
        SendMessageW(count, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
        SendMessageW(count, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
        ASSERT_EQ(program.Focus(), count);
        SendMessageW(count, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(row.start));
        SendMessageW(count, EM_SETSEL, wcslen(row.start), wcslen(row.start));
        for (const char* c = row.typed; *c; ++c)
            SendMessageW(count, WM_CHAR, static_cast<WPARAM>(*c), 1);
        EXPECT_EQ(WindowText(count), row.while_in);
        if (row.caret >= 0) SendMessageW(count, EM_SETSEL, row.caret, row.caret);

        program.PressKey(count, VK_TAB);
        EXPECT_EQ(program.Focus(), program.Child(Control::编辑框2));
        EXPECT_EQ(WindowText(count), row.after);
        const DWORD selection = static_cast<DWORD>(SendMessageW(count, EM_GETSEL, 0, 0));
        EXPECT_EQ(static_cast<int>(LOWORD(selection)), row.caret_after);
    }
}

TEST(ProgramWindow, ClosingEndsTheProcessWithExitCodeZero) {
    RunningProgram program;
    ASSERT_NE(program.window(), nullptr);
    PostMessageW(program.window(), WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(program.process(), 30000), WAIT_OBJECT_0);
    DWORD exit_code = 1;
    GetExitCodeProcess(program.process(), &exit_code);
    EXPECT_EQ(exit_code, 0u);
}

// Copies what the screen shows of `window` into a 32-bit top-down BMP file and returns the
// pixels (BGRA rows) for checks.
std::vector<uint32_t> CaptureWindow(HWND window, const std::string& bmp_path, int& width,
                                    int& height) {
    RECT r{};
    GetWindowRect(window, &r);
    width = r.right - r.left;
    height = r.bottom - r.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    UniqueGdiObject bitmap(CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    HGDIOBJ old = SelectObject(memory, bitmap.get());
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    std::memcpy(pixels.data(), bits, pixels.size() * 4);
    for (uint32_t& p : pixels) p |= 0xFF000000u;  // opaque, so viewers show the picture
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size() * 4);
    if (FILE* f = std::fopen(bmp_path.c_str(), "wb")) {
        std::fwrite(&file, sizeof file, 1, f);
        std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, f);
        std::fwrite(pixels.data(), 4, pixels.size(), f);
        std::fclose(f);
    }
    return pixels;
}

// Leaves bin/window.bmp for a look, and checks the two things only pixels show: labels are
// drawn straight over the face colour, and 透明标签5 is red.
TEST(ProgramWindow, ScreenshotShowsTransparentLabelsAndTheRedBanner) {
    RunningProgram program;
    ASSERT_NE(program.window(), nullptr);
    RedrawWindow(program.window(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    program.Settle();
    Sleep(500);
    int width = 0;
    int height = 0;
    const std::vector<uint32_t> pixels =
        CaptureWindow(program.window(), BinDir() + "window.bmp", width, height);

    POINT client{0, 0};
    ClientToScreen(program.window(), &client);
    RECT frame{};
    GetWindowRect(program.window(), &frame);
    auto pixel_at_client = [&](int x, int y) {
        const int px = client.x - frame.left + x;
        const int py = client.y - frame.top + y;
        const uint32_t bgra =
            pixels[static_cast<size_t>(py) * static_cast<size_t>(width) + static_cast<size_t>(px)];
        return RGB((bgra >> 16) & 0xFF, (bgra >> 8) & 0xFF, bgra & 0xFF);
    };
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    // The top-left corner of 透明标签1 holds no text: it shows the window's face.
    EXPECT_EQ(pixel_at_client(9, 9), face);

    int red = 0;
    for (int y = 176; y < 192; ++y) {
        for (int x = 8; x < 360; ++x) {
            COLORREF c = pixel_at_client(x, y);
            if (GetRValue(c) > 200 && GetGValue(c) < 80 && GetBValue(c) < 80) {
                ++red;
            } else if (c != face) {
                EXPECT_GT(GetRValue(c), GetGValue(c))
                    << "not a reddish text pixel at " << x << "," << y;
            }
        }
    }
    EXPECT_GT(red, 50) << "透明标签5 is drawn in red";
}

// ---- A MainWindow inside this process -----------------------------------------------------

// Removes the quit message a destroyed window leaves in this thread's queue.
void DropQuitMessage() {
    MSG m;
    while (PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

struct EventCounts {
    int created = 0;
    int refresh = 0;
    int one_key = 0;
    bool all_controls_existed_when_created = false;
};

class InProcessWindow : public testing::Test {
protected:
    void SetUp() override {
        MainWindowEvents events;
        events.created = [this](MainWindow& w) {
            ++counts_.created;
            bool all = IsWindowVisible(w.hwnd());
            for (int i = 0; i < kControlCount; ++i)
                all = all && IsWindowVisible(w.ControlWindow(static_cast<Control>(i)));
            counts_.all_controls_existed_when_created = all;
        };
        events.refresh_clicked = [this](MainWindow&) { ++counts_.refresh; };
        events.one_key_clicked = [this](MainWindow&) { ++counts_.one_key; };
        ASSERT_TRUE(window_.Load(std::move(events)));
    }
    void TearDown() override {
        if (window_.hwnd()) DestroyWindow(window_.hwnd());
        DropQuitMessage();
    }

    HWND Log() const { return window_.ControlWindow(Control::编辑框_日志); }

    MainWindow window_;
    EventCounts counts_;
};

TEST_F(InProcessWindow, CreatedEventRunsOnceWithEveryControlInPlace) {
    EXPECT_EQ(counts_.created, 1);
    EXPECT_TRUE(counts_.all_controls_existed_when_created);
    EXPECT_TRUE(window_.IsChecked(Control::单选框2));
    EXPECT_FALSE(window_.IsChecked(Control::单选框1));
}

// Checked here because class data and fonts cannot be read from another process under Wine.
TEST_F(InProcessWindow, UsesTheFaceColourAndTheDefaultGuiFont) {
    EXPECT_EQ(GetClassLongPtrW(window_.hwnd(), GCLP_HBRBACKGROUND),
              static_cast<ULONG_PTR>(COLOR_BTNFACE + 1));
    HFONT gui_font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    for (int i = 0; i < kControlCount; ++i) {
        HWND c = window_.ControlWindow(static_cast<Control>(i));
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0)), gui_font) << i;
    }
}

TEST_F(InProcessWindow, OnlyTheTwoPushButtonsRaiseClickEvents) {
    SendMessageW(window_.ControlWindow(Control::按钮_刷新模拟器), BM_CLICK, 0, 0);
    EXPECT_EQ(counts_.refresh, 1);
    EXPECT_EQ(counts_.one_key, 0);
    SendMessageW(window_.ControlWindow(Control::按钮_一键生成快照), BM_CLICK, 0, 0);
    EXPECT_EQ(counts_.one_key, 1);
    SendMessageW(window_.ControlWindow(Control::单选框1), BM_CLICK, 0, 0);
    EXPECT_EQ(counts_.refresh, 1);
    EXPECT_EQ(counts_.one_key, 1);
    EXPECT_TRUE(window_.IsChecked(Control::单选框1));
    EXPECT_FALSE(window_.IsChecked(Control::单选框2));
}

TEST_F(InProcessWindow, AppendLogAddsAtTheEndWhereverTheCaretWas) {
    const std::string notice = window_.Text(Control::编辑框_日志);
    // The user put the caret at the start, then selected a few characters in the middle.
    SendMessageW(Log(), EM_SETSEL, 0, 0);
    window_.AppendLog("a\r\n");
    SendMessageW(Log(), EM_SETSEL, 2, 6);
    window_.AppendLog("b\r\n");
    EXPECT_EQ(window_.Text(Control::编辑框_日志), notice + "a\r\nb\r\n");
    const int length = GetWindowTextLengthW(Log());
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(Log(), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(static_cast<int>(start), length);
    EXPECT_EQ(static_cast<int>(end), length);
}

TEST_F(InProcessWindow, AppendLogKeepsTheEndInViewAndTakesMoreThan32KCharacters) {
    const std::string line = "克隆 MEmu_101 成功 0123456789012345678901234567890123456789\r\n";
    const int lines = 1000;  // well past the edit box's 32K default limit
    for (int i = 0; i < lines; ++i) window_.AppendLog(line);
    const std::string text = window_.Text(Control::编辑框_日志);
    ASSERT_GT(text.size(), 40000u);
    EXPECT_EQ(text.substr(text.size() - line.size()), line);
    EXPECT_EQ(GetWindowTextLengthW(Log()), static_cast<int>(WideFromGbk(text).size()));

    // The last line is among the visible ones.
    const LRESULT line_count = SendMessageW(Log(), EM_GETLINECOUNT, 0, 0);
    const LRESULT first_visible = SendMessageW(Log(), EM_GETFIRSTVISIBLELINE, 0, 0);
    EXPECT_GT(first_visible, line_count - 15);
}

TEST_F(InProcessWindow, TextsRoundTripAsGbk) {
    const std::string folder = "D:\\逍遥模拟器\\Microvirt\\MEmu\\";
    window_.SetText(Control::编辑框_模拟器目录, folder);
    EXPECT_EQ(window_.Text(Control::编辑框_模拟器目录), folder);
    EXPECT_EQ(WindowText(window_.ControlWindow(Control::编辑框_模拟器目录)),
              L"D:\\逍遥模拟器\\Microvirt\\MEmu\\");
    window_.SetText(Control::编辑框_数量, "");
    EXPECT_EQ(window_.Text(Control::编辑框_数量), "");
}

// The list part gets what is left of the 160 pixels given at creation below the selection field.
// Systems differ on whether the reported rectangle includes the field and on the frame between
// the two, hence the field's height added and the frame's allowance.
TEST_F(InProcessWindow, ComboListPartIsAtLeast160PixelsTall) {
    HWND combo = window_.ControlWindow(Control::组合框1);
    RECT dropped{};
    SendMessageW(combo, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
    RECT field{};
    GetWindowRect(combo, &field);
    const int frame = 2 * GetSystemMetrics(SM_CYEDGE);
    EXPECT_GE((dropped.bottom - dropped.top) + (field.bottom - field.top), 160 - frame);
}

TEST_F(InProcessWindow, ComboItemsKeepTheirOrderAndValues) {
    EXPECT_EQ(window_.SelectedComboIndex(), -1);
    window_.SelectComboItem(0);  // nothing to select in an empty box
    EXPECT_EQ(window_.SelectedComboIndex(), -1);

    EXPECT_EQ(window_.AddComboItem("MEmu_2", 2), 0);
    EXPECT_EQ(window_.AddComboItem("MEmu", 0), 1);  // not sorted
    EXPECT_EQ(window_.AddComboItem("逍遥_1", 1), 2);
    EXPECT_EQ(window_.ComboItemValue(0), 2);
    EXPECT_EQ(window_.ComboItemValue(1), 0);
    EXPECT_EQ(window_.ComboItemValue(2), 1);

    struct Selection {
        int asked;
        int selected;
    };
    const Selection selections[] = {{1, 1}, {2, 2},   {3, 2},   {99, 2},
                                    {0, 0}, {-1, -1}, {-2, -1}, {-99, -1}};
    for (const Selection& s : selections) {
        window_.SelectComboItem(s.asked);
        EXPECT_EQ(window_.SelectedComboIndex(), s.selected) << "asked " << s.asked;
    }
    window_.SelectComboItem(2);
    EXPECT_EQ(window_.Text(Control::组合框1), "逍遥_1");

    for (int outside : {-1, 3, 100}) EXPECT_EQ(window_.ComboItemValue(outside), -1) << outside;

    window_.ClearCombo();
    EXPECT_EQ(window_.SelectedComboIndex(), -1);
    EXPECT_EQ(window_.ComboItemValue(0), -1);
    EXPECT_EQ(window_.AddComboItem("MEmu", 0), 0);
}

TEST_F(InProcessWindow, CloseRequestHandlerCanKeepTheWindowOpen) {
    int asked = 0;
    bool allow = false;
    window_.SetCloseRequestHandler([&] {
        ++asked;
        return allow;
    });
    SendMessageW(window_.hwnd(), WM_CLOSE, 0, 0);
    EXPECT_EQ(asked, 1);
    ASSERT_NE(window_.hwnd(), nullptr);
    EXPECT_TRUE(IsWindow(window_.hwnd()));

    allow = true;
    HWND handle = window_.hwnd();
    SendMessageW(handle, WM_CLOSE, 0, 0);
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_EQ(window_.hwnd(), nullptr);
    MSG quit;
    ASSERT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "no quit message";
    EXPECT_EQ(quit.wParam, 0u);

    // Operations on the closed window do nothing and read as empty.
    window_.AppendLog("late\r\n");
    EXPECT_EQ(window_.Text(Control::编辑框_日志), "");
    EXPECT_EQ(window_.AddComboItem("MEmu", 0), -1);
    EXPECT_EQ(window_.SelectedComboIndex(), -1);
    EXPECT_EQ(window_.ComboItemValue(0), -1);
    EXPECT_FALSE(window_.IsChecked(Control::单选框2));
}

}  // namespace
