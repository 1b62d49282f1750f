#include "win/dll_search.h"

#include <windows.h>

#include "win/system_function.h"

void LoadDllsFromSystemFolderOnly() {
    // LOAD_LIBRARY_SEARCH_SYSTEM32; the function itself is looked up at run time, as a static
    // import of it would keep the programs from starting on a Windows 7 without the update.
    constexpr DWORD kSearchSystem32 = 0x00000800;
    static SystemFunction<BOOL(WINAPI*)(DWORD)> set_default_dll_directories(
        "kernel32.dll", "SetDefaultDllDirectories");
    if (auto set_default = set_default_dll_directories.TryGet()) {
        if (set_default(kSearchSystem32)) return;
    }
    SetDllDirectoryW(L"");
}
