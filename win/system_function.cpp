#include "win/system_function.h"

#include <string>

#include "win/wide_text.h"

namespace {

// LoadLibraryExW flag; absent from old headers and, on Windows 7 without its loader update,
// refused with ERROR_INVALID_PARAMETER.
constexpr DWORD kSearchSystem32 = 0x00000800;

std::wstring SystemFolderPath(const std::wstring& file) {
    wchar_t folder[MAX_PATH] = {};
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::wstring path(folder, n);
    if (path.back() != L'\\') path += L'\\';
    return path + file;
}

// True when the program's manifest binds the library to a side-by-side assembly (the common
// controls, version 6): loaded by name, it then comes from the assembly store (WinSxS) through
// the activation context, before any folder is searched. By its system folder path it would
// be the older copy there instead.
bool RedirectedToAssembly(const std::wstring& name) {
    ACTCTX_SECTION_KEYED_DATA data = {};
    data.cbSize = sizeof data;
    return FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION,
                                    name.c_str(), &data) != FALSE;
}

}  // namespace

HMODULE SystemLibrary(const char* library) {
    std::wstring name = WideFromGbk(library);
    if (name.empty() || name.find_first_of(L"\\/:") != std::wstring::npos) return nullptr;
    // ntdll.dll and kernel32.dll are mapped into every process from the system folder.
    if (lstrcmpiW(name.c_str(), L"ntdll.dll") == 0 ||
        lstrcmpiW(name.c_str(), L"kernel32.dll") == 0) {
        if (HMODULE loaded = GetModuleHandleW(name.c_str())) return loaded;
    }
    const bool by_name = RedirectedToAssembly(name);
    const std::wstring target = by_name ? name : SystemFolderPath(name);
    if (target.empty()) return nullptr;
    if (HMODULE module = LoadLibraryExW(target.c_str(), nullptr, kSearchSystem32)) return module;
    if (GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
    // Windows 7 without its loader update: a full path, whose own imports are then searched
    // for from its folder first; a redirected name still resolves through the activation
    // context.
    return LoadLibraryExW(target.c_str(), nullptr, by_name ? 0 : LOAD_WITH_ALTERED_SEARCH_PATH);
}

void* TryResolveSystemFunction(const char* library, const char* function) {
    HMODULE module = SystemLibrary(library);
    if (!module) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(module, function));
}

void* ResolveSystemFunction(const char* library, const char* function) {
    void* address = TryResolveSystemFunction(library, function);
    if (!address) {
        fatal::Raise(0, fatal::MissingFunctionText(library, function), kMissingSystemFunctionSite);
    }
    return address;
}
