#include "install/discovery_win.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <vector>

#include "text/gbk_text.h"
#include "win/system_function.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

// The shell and COM are needed only when the registry names no install folder and the desktop
// shortcuts must be read, so they are looked up then, from the system folder: a program that
// finds the folder in the registry (or is given it) starts without loading them. Missing, they
// leave the shortcuts unread.
SystemFunction<decltype(&SHGetSpecialFolderPathW)> get_special_folder("shell32.dll",
                                                                      "SHGetSpecialFolderPathW");
SystemFunction<decltype(&CoInitialize)> co_initialize("ole32.dll", "CoInitialize");
SystemFunction<decltype(&CoUninitialize)> co_uninitialize("ole32.dll", "CoUninitialize");
SystemFunction<decltype(&CoCreateInstance)> co_create_instance("ole32.dll", "CoCreateInstance");

// The value's text without the terminator(s) the registry may or may not have stored.
std::wstring WideFromRegistryData(const std::vector<BYTE>& data, DWORD size) {
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
    const size_t end = text.find(L'\0');
    if (end != std::wstring::npos) text.resize(end);
    return text;
}

std::wstring ExpandEnvironment(const std::wstring& text) {
    std::wstring expanded(text.size() + 1, L'\0');
    for (;;) {
        const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), expanded.data(),
                                                       static_cast<DWORD>(expanded.size()));
        if (needed == 0) return {};
        if (needed <= expanded.size()) {
            expanded.resize(needed - 1);  // drop the terminator
            return expanded;
        }
        expanded.assign(needed, L'\0');
    }
}

}  // namespace

std::string WinDiscoveryPlatform::ReadMachineRegistryText(const std::string& key_path,
                                                          const std::string& value_name) {
    // Read access only and no view flag: the key path itself names the node it wants.
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, WideFromGbk(key_path).c_str(), 0, KEY_READ, key.put()) !=
        ERROR_SUCCESS) {
        return {};
    }
    const std::wstring name = WideFromGbk(value_name);
    std::vector<BYTE> data(256);
    DWORD type = REG_NONE;
    DWORD size = 0;
    for (;;) {
        size = static_cast<DWORD>(data.size());
        const LONG status =
            RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, data.data(), &size);
        if (status == ERROR_SUCCESS) break;
        if (status != ERROR_MORE_DATA) return {};
        data.resize(size + sizeof(wchar_t));  // the value may have grown in between
    }
    if (type == REG_SZ) return GbkFromWide(WideFromRegistryData(data, size));
    if (type == REG_EXPAND_SZ)
        return GbkFromWide(ExpandEnvironment(WideFromRegistryData(data, size)));
    return {};
}

std::string WinDiscoveryPlatform::DesktopFolder() {
    wchar_t path[MAX_PATH] = {};
    const auto get_folder = get_special_folder.TryGet();
    if (!get_folder || !get_folder(nullptr, path, CSIDL_DESKTOPDIRECTORY, FALSE)) return {};
    return GbkFromWide(path) + "\\";
}

bool WinDiscoveryPlatform::FileExists(const std::string& path) {
    return ::FileExists(path);
}

std::string WinDiscoveryPlatform::ShortcutTarget(const std::string& path) {
    if (!gbk::Contains(path, ".lnk")) return {};

    const auto initialize = co_initialize.TryGet();
    const auto uninitialize_com = co_uninitialize.TryGet();
    const auto create_instance = co_create_instance.TryGet();
    if (!initialize || !uninitialize_com || !create_instance) return {};

    // Balance only an initialisation this call made (S_OK or S_FALSE); a thread already in
    // another apartment (RPC_E_CHANGED_MODE) keeps its COM as it was.
    const HRESULT init = initialize(nullptr);
    const bool must_uninitialize = init == S_OK || init == S_FALSE;
    ScopeExit uninitialize([must_uninitialize, uninitialize_com] {
        if (must_uninitialize) uninitialize_com();
    });

    // Declared after the guard above, so both are released before COM is uninitialised.
    ComPtr<IShellLinkW> link;
    if (FAILED(create_instance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                               link.put_void()))) {
        return {};
    }
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void()))) return {};
    if (FAILED(file->Load(WideFromGbk(path).c_str(), STGM_READ))) return {};

    std::vector<wchar_t> target(32768, L'\0');
    if (link->GetPath(target.data(), static_cast<int>(target.size()), nullptr, 0) != S_OK) {
        return {};
    }
    return GbkFromWide(target.data());
}

std::string DiscoverInstallDirectory() {
    WinDiscoveryPlatform platform;
    return DiscoverInstallDirectory(platform);
}

bool FileExists(const std::string& path) {
    if (path.empty()) return false;
    WIN32_FIND_DATAW found;
    UniqueFindHandle search(FindFirstFileW(WideFromGbk(path).c_str(), &found));
    return static_cast<bool>(search);
}
