#include "sim/sim_common.h"

#include <windows.h>
#include <shellapi.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {

constexpr UINT kGbk = 936;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::vector<std::string> SplitOn(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::string piece;
    for (size_t i = 0; i < text.size(); ++i) {
        if (IsGbkLead(text[i]) && i + 1 < text.size()) {
            piece += text[i];
            piece += text[++i];
        } else if (text[i] == separator) {
            pieces.push_back(piece);
            piece.clear();
        } else {
            piece += text[i];
        }
    }
    if (!piece.empty()) pieces.push_back(piece);
    return pieces;
}

std::string Join(const std::vector<std::string>& pieces, char separator) {
    std::string text;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) text += separator;
        text += pieces[i];
    }
    return text;
}

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return ToGbk(path);
        }
        path.resize(path.size() * 2);
    }
}

// Last backslash that is not the trail byte of a GBK character, -1 when none.
long LastBackslash(const std::string& path) {
    long last = -1;
    for (size_t i = 0; i < path.size(); ++i) {
        if (IsGbkLead(path[i]) && i + 1 < path.size()) {
            ++i;
        } else if (path[i] == '\\') {
            last = static_cast<long>(i);
        }
    }
    return last;
}

// Text of `bytes` bytes made of repeated numbered lines, cut to the exact size.
std::string HugeText(size_t bytes) {
    std::string text;
    text.reserve(bytes + 64);
    for (unsigned line = 0; text.size() < bytes; ++line) {
        char row[64];
        std::snprintf(row, sizeof row, "line %08u of a huge simulated reply.....\r\n", line);
        text += row;
    }
    text.resize(bytes);
    return text;
}

constexpr size_t kStateFields = 11;

// Snapshots field: "uuid=name;..."; an entry without '=' is a name from an older state file
// and gets a uuid made from the VM index and its position, the same on every read.
std::vector<Snapshot> ParseSnapshots(int vm_index, const std::string& field) {
    std::vector<Snapshot> snapshots;
    for (const std::string& entry : SplitOn(field, ';')) {
        const size_t eq = entry.find('=');
        if (eq != std::string::npos) {
            snapshots.push_back({entry.substr(0, eq), entry.substr(eq + 1)});
            continue;
        }
        char uuid[64];
        std::snprintf(uuid, sizeof uuid, "5e1a0c3d-5a00-4e00-9000-%06x%06x",
                      static_cast<unsigned>(vm_index) & 0xffffffu,
                      static_cast<unsigned>(snapshots.size()) & 0xffffffu);
        snapshots.push_back({uuid, entry});
    }
    return snapshots;
}

GUID RandomGuid() {
    GUID guid = {};
    CoCreateGuid(&guid);
    return guid;
}

}  // namespace

std::wstring ToWide(const std::string& gbk) {
    if (gbk.empty()) return {};
    const int n =
        MultiByteToWideChar(kGbk, 0, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        MultiByteToWideChar(kGbk, 0, gbk.data(), static_cast<int>(gbk.size()), wide.data(), n);
    }
    return wide;
}

std::string ToGbk(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(kGbk, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                      0, nullptr, nullptr);
    std::string gbk(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        WideCharToMultiByte(kGbk, 0, wide.data(), static_cast<int>(wide.size()), gbk.data(), n,
                            nullptr, nullptr);
    }
    return gbk;
}

std::string ExeFolder() {
    const std::string path = ModulePath();
    return path.substr(0, static_cast<size_t>(LastBackslash(path) + 1));
}

std::string ExeName() {
    const std::string path = ModulePath();
    return path.substr(static_cast<size_t>(LastBackslash(path) + 1));
}

std::string RootFolder() {
    const std::string folder = ExeFolder();
    const std::string without_slash = folder.empty() ? folder : folder.substr(0, folder.size() - 1);
    return without_slash.substr(0, static_cast<size_t>(LastBackslash(without_slash) + 1));
}

std::string RawArguments() {
    const std::wstring line = GetCommandLineW();
    size_t i = 0;
    if (!line.empty() && line[0] == L'"') {
        const size_t close = line.find(L'"', 1);
        i = close == std::wstring::npos ? line.size() : close + 1;
    }
    while (i < line.size() && line[i] != L' ' && line[i] != L'\t') ++i;
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
    return ToGbk(line.substr(i));
}

std::vector<std::string> ProcessArguments() {
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; argv && i < count; ++i) args.push_back(ToGbk(argv[i]));
    if (argv) LocalFree(argv);
    return args;
}

std::vector<std::string> SplitArguments(const std::string& raw) {
    // The C runtime's rules: 2n backslashes before a quote give n backslashes and the quote
    // opens or closes a quoted part; 2n+1 give n backslashes and a literal quote; other
    // backslashes are literal.
    std::vector<std::string> args;
    std::string current;
    bool in_word = false;
    bool quoted = false;
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (IsGbkLead(c) && i + 1 < raw.size()) {
            current += c;
            current += raw[++i];
            in_word = true;
        } else if (c == '\\') {
            size_t run = 0;
            while (i + run < raw.size() && raw[i + run] == '\\') ++run;
            in_word = true;
            if (i + run < raw.size() && raw[i + run] == '"') {
                current.append(run / 2, '\\');
                if (run % 2 == 1) {
                    current += '"';
                } else {
                    quoted = !quoted;
                }
                i += run;
            } else {
                current.append(run, '\\');
                i += run - 1;
            }
        } else if (c == '"') {
            quoted = !quoted;
            in_word = true;
        } else if (IsBlank(c) && !quoted) {
            if (in_word) args.push_back(current);
            current.clear();
            in_word = false;
        } else {
            current += c;
            in_word = true;
        }
    }
    if (in_word) args.push_back(current);
    return args;
}

RootLock::RootLock(const std::string& root) {
    // Mutex names may not contain backslashes; a hash of the folder keeps roots apart.
    uint32_t hash = 2166136261u;
    for (char c : LowerAscii(root)) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    wchar_t name[64];
    std::swprintf(name, 64, L"Local\\memu-sim-root-%08x", hash);
    mutex_ = CreateMutexW(nullptr, FALSE, name);
    if (mutex_) WaitForSingleObject(mutex_, INFINITE);  // WAIT_ABANDONED also grants ownership
}

RootLock::~RootLock() {
    if (mutex_) {
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }
}

bool ReadFileBytes(const std::string& path, std::string* bytes) {
    bytes->clear();
    HANDLE file = CreateFileW(ToWide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes->append(buffer, got);
    CloseHandle(file);
    return true;
}

static bool WriteWithDisposition(const std::string& path, const std::string& bytes, bool append) {
    HANDLE file = CreateFileW(ToWide(path).c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                              FILE_SHARE_READ, nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok =
        bytes.empty() ||
        (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size());
    CloseHandle(file);
    return ok;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    return WriteWithDisposition(path, bytes, false);
}

bool AppendFileBytes(const std::string& path, const std::string& bytes) {
    return WriteWithDisposition(path, bytes, true);
}

void AppendJournal(const std::string& root, const std::string& tool, const std::string& args) {
    AppendRootFile(root, kJournalFile, args.empty() ? tool : tool + " " + args);
}

std::vector<std::string> SwitchBehaviours(const std::string& root, const std::string& tool,
                                          const std::string& subcommand, int vm_index) {
    std::vector<std::string> behaviours;
    std::string text;
    if (!ReadFileBytes(root + kSwitchesFile, &text)) return behaviours;
    for (std::string line : SplitOn(text, '\n')) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::vector<std::string> words = SplitArguments(line);
        if (words.size() != 3 && words.size() != 4) continue;
        if (LowerAscii(words[0]) != LowerAscii(tool)) continue;
        if (words[1] != "*" && words[1] != subcommand) continue;
        int only_vm = -1;
        if (words.size() == 4 && (!ParseInt(words[3], &only_vm) || only_vm != vm_index)) continue;
        behaviours.push_back(words[2]);
    }
    return behaviours;
}

bool ApplySwitches(const std::string& root, const std::string& tool, const std::string& subcommand,
                   int vm_index, Reply* reply) {
    for (const std::string& behaviour : SwitchBehaviours(root, tool, subcommand, vm_index)) {
        if (behaviour.rfind("delay=", 0) == 0) {
            Sleep(static_cast<DWORD>(std::strtoul(behaviour.c_str() + 6, nullptr, 10)));
        } else if (behaviour == "hang") {
            for (;;) Sleep(INFINITE);
        } else if (behaviour == "fail") {
            reply->fail = true;
        } else if (behaviour == "lfonly") {
            reply->lf_only = true;
        } else if (behaviour.rfind("boot=", 0) == 0) {
            reply->boot_ms =
                static_cast<uint32_t>(std::strtoul(behaviour.c_str() + 5, nullptr, 10));
        } else if (behaviour.rfind("huge=", 0) == 0) {
            Write(HugeText(std::strtoull(behaviour.c_str() + 5, nullptr, 10)));
            return false;
        } else if (behaviour == "binary") {
            std::string bytes;
            for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
            Write(bytes);
            return false;
        } else if (behaviour == "missing") {
            return false;
        }
    }
    return true;
}

void Write(const std::string& bytes) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 16));
        if (!WriteFile(out, bytes.data() + done, chunk, &written, nullptr) || written == 0) return;
        done += written;
    }
}

bool ParseVm(const std::string& line, Vm* vm) {
    // Keep empty fields: split by hand on tabs.
    std::vector<std::string> f;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    f.resize(kStateFields);
    *vm = Vm();
    if (!ParseInt(f[0], &vm->index)) return false;
    vm->title = f[1];
    vm->started = f[2] == "1";
    vm->pid = static_cast<uint32_t>(std::strtoul(f[3].c_str(), nullptr, 10));
    vm->uuid = f[4].empty() ? UuidForIndex(vm->index) : f[4];
    vm->snapshots = ParseSnapshots(vm->index, f[5]);
    for (const std::string& pair : SplitOn(f[6], ';')) {
        const size_t eq = pair.find('=');
        if (eq != std::string::npos)
            vm->config.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
    }
    vm->from = f[7];
    vm->started_at = std::strtoull(f[8].c_str(), nullptr, 10);
    vm->identity = f[9];
    vm->apps = SplitOn(f[10], ';');
    return true;
}

std::vector<Vm> LoadState(const std::string& root) {
    std::vector<Vm> vms;
    std::string text;
    if (!ReadFileBytes(root + kStateFile, &text)) return vms;
    for (std::string line : SplitOn(text, '\n')) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Vm vm;
        if (line.empty() || line[0] == '#' || !ParseVm(line, &vm)) continue;
        vms.push_back(vm);
    }
    return vms;
}

std::string FormatVm(const Vm& vm) {
    std::vector<std::string> snapshots;
    for (const Snapshot& s : vm.snapshots) snapshots.push_back(s.uuid + "=" + s.name);
    std::vector<std::string> config;
    for (const auto& [key, value] : vm.config) config.push_back(key + "=" + value);
    return std::to_string(vm.index) + "\t" + vm.title + "\t" + (vm.started ? "1" : "0") + "\t" +
           std::to_string(vm.pid) + "\t" + vm.uuid + "\t" + Join(snapshots, ';') + "\t" +
           Join(config, ';') + "\t" + vm.from + "\t" + std::to_string(vm.started_at) + "\t" +
           vm.identity + "\t" + Join(vm.apps, ';');
}

std::string FormatState(const std::vector<Vm>& vms) {
    std::string text =
        "# index\ttitle\tstarted\tpid\tuuid\tsnapshots\tconfig\tfrom\tstarted_at\tidentity"
        "\tapps\r\n";
    for (const Vm& vm : vms) text += FormatVm(vm) + "\r\n";
    return text;
}

void MarkStopped(Vm& vm) {
    vm.started = false;
    vm.pid = 0;
    vm.started_at = 0;
}

bool SaveState(const std::string& root, const std::vector<Vm>& vms) {
    return WriteFileBytes(root + kStateFile, FormatState(vms));
}

Vm* FindVm(std::vector<Vm>& vms, int index) {
    for (Vm& vm : vms) {
        if (vm.index == index) return &vm;
    }
    return nullptr;
}

std::string VmName(int index) {
    return index == 0 ? "MEmu" : "MEmu_" + std::to_string(index);
}

int IndexOfVmName(const std::string& name) {
    if (name == "MEmu") return 0;
    if (name.rfind("MEmu_", 0) != 0) return -1;
    int index = 0;
    if (!ParseInt(name.substr(5), &index) || index <= 0) return -1;
    return index;
}

std::string UuidForIndex(int index) {
    char text[64];
    std::snprintf(text, sizeof text, "5e1a0c3d-51a0-4e00-9000-%012x", static_cast<unsigned>(index));
    return text;
}

int FreeIndex(const std::vector<Vm>& vms) {
    int index = 0;
    for (;;) {
        bool used = false;
        for (const Vm& vm : vms) used = used || vm.index == index;
        if (!used) return index;
        ++index;
    }
}

std::string NewUuid() {
    const GUID guid = RandomGuid();
    char text[64];
    std::snprintf(text, sizeof text, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string NewIdentity() {
    const GUID guid = RandomGuid();
    uint64_t bits = 0;
    for (unsigned char b : guid.Data4) bits = (bits << 8) | b;
    std::string digits = "86";  // the leading digits of many phones sold in China
    for (int i = 0; i < 12; ++i, bits /= 10) digits += static_cast<char>('0' + bits % 10);
    // Luhn: from the right, every second digit (starting next to the check digit) is doubled.
    int sum = 0;
    for (size_t i = 0; i < digits.size(); ++i) {
        int d = digits[digits.size() - 1 - i] - '0';
        if (i % 2 == 0) d = d * 2 > 9 ? d * 2 - 9 : d * 2;
        sum += d;
    }
    return digits + static_cast<char>('0' + (10 - sum % 10) % 10);
}

uint64_t FileTimeNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

bool IsProcessAlive(uint32_t pid) {
    if (pid == 0) return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return false;
    DWORD code = 0;
    const bool alive = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return alive;
}

bool StopProcess(uint32_t pid) {
    if (pid == 0) return false;
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!process) return false;
    const bool ok = TerminateProcess(process, 0) != 0;
    if (ok) WaitForSingleObject(process, 5000);
    CloseHandle(process);
    return ok;
}

std::wstring VmReadyEventName(uint32_t pid) {
    return L"MEmuSimVmReady-" + std::to_wstring(pid);
}

int32_t VmWindowOf(uint32_t pid) {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, kVmWindowClass, nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == pid) return static_cast<int32_t>(reinterpret_cast<intptr_t>(window));
    }
    return 0;
}

// The simulated tools keep their own reading of GBK, apart from the program's: they stand in
// for the emulator's tools, and share none of the code they are there to test.
bool IsGbkLead(char c) {
    return static_cast<unsigned char>(c) >= 0x80;
}

void AppendRootFile(const std::string& root, const std::string& name, const std::string& line) {
    RootLock lock(root);
    AppendFileBytes(root + name, line + "\r\n");
}

bool ParseInt(const std::string& text, int* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0') return false;
    *value = static_cast<int>(parsed);
    return true;
}

Invocation StartInvocation() {
    Invocation call{RootFolder(), ExeName(), RawArguments()};
    AppendJournal(call.root, call.tool, call.raw);
    return call;
}

CallRecord::CallRecord(const Invocation& call) : call_(call), begin_(GetTickCount64()) {}

CallRecord::~CallRecord() {
    const std::string line = std::to_string(begin_) + " " + std::to_string(GetTickCount64()) + " " +
                             call_.tool + " " + call_.raw + "\r\n";
    RootLock lock(call_.root);
    AppendFileBytes(call_.root + kCallsFile, line);
}

}  // namespace sim
