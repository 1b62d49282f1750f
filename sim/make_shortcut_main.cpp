// make_shortcut.exe <shortcut.lnk> [target]: writes a shell shortcut. Without a target the
// shortcut has no target path. make_shortcut.exe --desktop <name.lnk> [target] writes it into
// the current user's desktop folder. Used by the setup script.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    std::wstring link_path;
    if (argc >= 3 && std::wstring(argv[1]) == L"--desktop") {
        wchar_t desktop[MAX_PATH] = {};
        if (!SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, TRUE)) return 4;
        link_path = std::wstring(desktop) + L"\\" + argv[2];
        ++argv;
        --argc;
    } else if (argc >= 2) {
        link_path = argv[1];
    } else {
        return 2;
    }
    if (FAILED(CoInitialize(nullptr))) return 3;
    int result = 1;
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link)))) {
        if (argc >= 3) link->SetPath(argv[2]);
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            if (SUCCEEDED(file->Save(link_path.c_str(), TRUE))) result = 0;
            file->Release();
        }
        link->Release();
    }
    CoUninitialize();
    return result;
}
