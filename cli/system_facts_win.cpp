#include "cli/system_facts_win.h"

#include <windows.h>

#include "win/wide_text.h"

std::optional<std::vector<std::string>> ArgumentsAsGbk(int argc, wchar_t** argv, std::string* bad) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::optional<std::string> gbk = GbkFromWideExact(argv[i]);
        if (!gbk) {
            if (bad)
                *bad = "argument " + std::to_string(i) + " (" + GbkFromWide(argv[i]) +
                       ") holds characters that the emulator's tools cannot receive (code page "
                       "936)";
            return std::nullopt;
        }
        args.push_back(std::move(*gbk));
    }
    return args;
}

std::string FullPath(const std::string& path) {
    const std::wstring wide = WideFromGbk(path);
    if (wide.empty()) return path;
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) return path;
        if (n < full.size()) {
            full.resize(n);
            return GbkFromWide(full);
        }
        full.resize(n);
    }
}

namespace {

std::optional<DWORD> CommandProcessorSetting(HKEY root, const wchar_t* name) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(root, L"Software\\Microsoft\\Command Processor", name, RRF_RT_REG_DWORD,
                     nullptr, &value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

}  // namespace

cmdline::ShellFacts SystemShellFacts() {
    cmdline::ShellFacts facts;
    facts.variable_defined = [](std::string_view name) {
        const std::wstring wide = WideFromGbk(name);
        wchar_t probe[1];
        return GetEnvironmentVariableW(wide.c_str(), probe, 1) != 0;
    };
    std::optional<DWORD> delayed = CommandProcessorSetting(HKEY_CURRENT_USER, L"DelayedExpansion");
    if (!delayed) delayed = CommandProcessorSetting(HKEY_LOCAL_MACHINE, L"DelayedExpansion");
    facts.delayed_expansion = delayed.value_or(0) != 0;
    return facts;
}
