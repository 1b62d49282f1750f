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

}  // namespace

HMODULE SystemLibrary(const char* library) {
    std::wstring name = WideFromGbk(library);
    if (name.empty()) return nullptr;
    // ntdll.dll and kernel32.dll are mapped into every process from the system folder.
    if (lstrcmpiW(name.c_str(), L"ntdll.dll") == 0 ||
        lstrcmpiW(name.c_str(), L"kernel32.dll") == 0) {
        if (HMODULE loaded = GetModuleHandleW(name.c_str())) return loaded;
    }
    if (HMODULE module = LoadLibraryExW(name.c_str(), nullptr, kSearchSystem32)) return module;
    if (GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
    std::wstring path = SystemFolderPath(name);
    return path.empty() ? nullptr : LoadLibraryW(path.c_str());
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
