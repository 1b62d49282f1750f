#include "support/sim_install.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <atomic>

#include "support/win_test_support.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

constexpr wchar_t kUninstallKey[] =
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\MEmu";
constexpr wchar_t kInstallLocation[] = L"InstallLocation";

bool CopyTool(const std::string& name, const std::string& to_folder) {
    return CopyFileW(WideFromGbk(SimBinDir() + name).c_str(), WideFromGbk(to_folder + name).c_str(),
                     FALSE) != 0;
}

bool EnsureFolder(const std::string& folder) {
    if (CreateDirectoryW(WideFromGbk(folder).c_str(), nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

std::string SimBinDir() {
    return BinDir() + "sim\\";
}

std::string MakeTempFolder(const std::string& tag) {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    for (;;) {
        const std::string folder = GbkFromWide(temp) + "sim-" + tag + "-" +
                                   std::to_string(GetCurrentProcessId()) + "-" +
                                   std::to_string(counter++) + "-" + std::to_string(GetTickCount());
        if (CreateDirectoryW(WideFromGbk(folder).c_str(), nullptr)) return folder + "\\";
        if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
}

std::string InstallSimulatedEmulator(const std::string& root, int vm_count) {
    const std::string install = root + "MEmu\\";
    const std::string tools = root + "MEmuHyperv\\";
    if (!EnsureFolder(root) || !EnsureFolder(install) || !EnsureFolder(tools)) return {};
    for (const char* name : {"MEmu.exe", "memuc.exe", "adb.exe", "MEmuConsole.exe"}) {
        if (!CopyTool(name, install)) return {};
    }
    for (const char* name : {"MEmuManage.exe", "MEmuHeadless.exe"}) {
        if (!CopyTool(name, tools)) return {};
    }
    std::vector<sim::Vm> vms;
    for (int index = 0; index < vm_count; ++index) {
        sim::Vm vm;
        vm.index = index;
        vm.title = sim::VmName(index);
        vm.uuid = sim::UuidForIndex(index);
        vms.push_back(vm);
    }
    WriteSimVms(root, vms);
    ClearSimJournal(root);
    SetSimSwitches(root, "");
    if (!SetInstallLocationValue(root.substr(0, root.size() - 1))) return {};
    return install;
}

bool SetInstallLocationValue(const std::string& value, bool expandable) {
    UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const std::wstring wide = WideFromGbk(value);
    return RegSetValueExW(key.get(), kInstallLocation, 0, expandable ? REG_EXPAND_SZ : REG_SZ,
                          reinterpret_cast<const BYTE*>(wide.c_str()),
                          static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

void DeleteInstallLocationValue() {
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_WRITE, key.put()) ==
        ERROR_SUCCESS) {
        RegDeleteValueW(key.get(), kInstallLocation);
    }
}

bool WriteShortcut(const std::string& link_path, const std::string& target) {
    const HRESULT init = CoInitialize(nullptr);
    ScopeExit uninitialize([init] {
        if (init == S_OK || init == S_FALSE) CoUninitialize();
    });
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.put_void()))) {
        return false;
    }
    if (!target.empty() && FAILED(link->SetPath(WideFromGbk(target).c_str()))) return false;
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void()))) return false;
    return SUCCEEDED(file->Save(WideFromGbk(link_path).c_str(), TRUE));
}

std::string SimJournal(const std::string& root) {
    std::string text;
    sim::ReadFileBytes(root + sim::kJournalFile, &text);
    return text;
}

std::vector<std::string> SimJournalLines(const std::string& root) {
    std::vector<std::string> lines;
    const std::string text = SimJournal(root);
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

void ClearSimJournal(const std::string& root) {
    sim::RootLock lock(root);
    sim::WriteFileBytes(root + sim::kJournalFile, "");
    sim::WriteFileBytes(root + sim::kCallsFile, "");
}

std::vector<SimCall> SimCalls(const std::string& root) {
    std::string text;
    {
        sim::RootLock lock(root);
        sim::ReadFileBytes(root + sim::kCallsFile, &text);
    }
    std::vector<SimCall> calls;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = text.substr(start, end - start);
        SimCall call;
        const size_t first = line.find(' ');
        const size_t second = line.find(' ', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        call.begin_ms = std::stoull(line.substr(0, first));
        call.end_ms = std::stoull(line.substr(first + 1, second - first - 1));
        call.line = line.substr(second + 1);
        calls.push_back(call);
    }
    return calls;
}

void SetSimSwitches(const std::string& root, const std::string& rules) {
    sim::WriteFileBytes(root + sim::kSwitchesFile, rules);
}

std::vector<sim::Vm> SimVms(const std::string& root) {
    sim::RootLock lock(root);
    return sim::LoadState(root);
}

void WriteSimVms(const std::string& root, const std::vector<sim::Vm>& vms) {
    sim::RootLock lock(root);
    sim::SaveState(root, vms);
}

void StopSimulatedVms(const std::string& root) {
    sim::RootLock lock(root);
    std::vector<sim::Vm> vms = sim::LoadState(root);
    for (sim::Vm& vm : vms) {
        if (vm.started) sim::StopProcess(vm.pid);
        sim::MarkStopped(vm);
    }
    sim::SaveState(root, vms);
}
