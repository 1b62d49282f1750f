#include "process/process_source_win.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <vector>

#include "process/command_line_layout.h"
#include "win/system_function.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace {

using NtStatus = LONG;
constexpr DWORD kQueryAndRead = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // 0x410
constexpr ULONG kDebugPrivilege = 20;
constexpr ULONG kBasicInformationClass = 0;
constexpr ULONG kCommandLineInformationClass = 60;  // ProcessCommandLineInformation
constexpr NtStatus kStatusInvalidInfoClass = static_cast<NtStatus>(0xC0000003);
constexpr NtStatus kStatusNotImplemented = static_cast<NtStatus>(0xC0000002);
constexpr NtStatus kStatusInfoLengthMismatch = static_cast<NtStatus>(0xC0000004);
constexpr NtStatus kStatusBufferTooSmall = static_cast<NtStatus>(0xC0000023);

using RtlAdjustPrivilegeFn = NtStatus(NTAPI*)(ULONG privilege, BOOLEAN enable,
                                              BOOLEAN current_thread, BOOLEAN* was_enabled);
SystemFunction<RtlAdjustPrivilegeFn> rtl_adjust_privilege("ntdll.dll", "RtlAdjustPrivilege");

// Reading other processes needs the debug privilege. Its previous state is not restored.
void EnableDebugPrivilege() {
    BOOLEAN was_enabled = FALSE;
    rtl_adjust_privilege.Get()(kDebugPrivilege, TRUE, FALSE, &was_enabled);
}

using NtQueryInformationProcessFn = NtStatus(NTAPI*)(HANDLE process, ULONG information_class,
                                                     void* information, ULONG length,
                                                     ULONG* return_length);
SystemFunction<NtQueryInformationProcessFn> nt_query_information_process(
    "ntdll.dll", "NtQueryInformationProcess");

// Another process's structures in this build's own width, read directly.
template <typename Memory, typename BasicInformation, typename Address>
class NativeMemory : public Memory {
public:
    explicit NativeMemory(HANDLE process) : process_(process) {}

    bool QueryBasicInformation(BasicInformation& info) override {
        return nt_query_information_process.Get()(process_, kBasicInformationClass, &info,
                                                  sizeof(info), nullptr) == 0;
    }
    bool Read(Address address, void* buffer, Address size) override {
        return ReadProcessMemory(process_, reinterpret_cast<const void*>(address), buffer,
                                 static_cast<SIZE_T>(size), nullptr) != FALSE;
    }

private:
    HANDLE process_;
};

#if defined(_WIN64)

// The 64-bit build reads the 64-bit structures directly.
using NativeMemory64 =
    NativeMemory<layout64::ProcessMemory, layout64::ProcessBasicInformation, uint64_t>;

std::u16string ReadUnits(HANDLE process) {
    NativeMemory64 memory(process);
    return layout64::ReadCommandLineUnits(memory);
}

#else

using NtWow64QueryInformationProcess64Fn = NtStatus(NTAPI*)(HANDLE process, ULONG information_class,
                                                            void* information, ULONG length,
                                                            ULONG* return_length);
using NtWow64ReadVirtualMemory64Fn = NtStatus(NTAPI*)(HANDLE process, ULONGLONG address,
                                                      void* buffer, ULONGLONG size,
                                                      ULONGLONG* bytes_read);
SystemFunction<NtWow64QueryInformationProcess64Fn> nt_wow64_query_information_process64(
    "ntdll.dll", "NtWow64QueryInformationProcess64");
SystemFunction<NtWow64ReadVirtualMemory64Fn> nt_wow64_read_virtual_memory64(
    "ntdll.dll", "NtWow64ReadVirtualMemory64");

// A 32-bit target (every process on 32-bit Windows, WoW64 processes on 64-bit Windows): the
// 32-bit structures, read directly.
using NativeMemory32 =
    NativeMemory<layout32::ProcessMemory, layout32::ProcessBasicInformation, uint32_t>;

// A 64-bit target on 64-bit Windows: the 64-bit structures, reached through the WoW64
// services.
class Wow64Memory : public layout64::ProcessMemory {
public:
    Wow64Memory(HANDLE process, NtWow64QueryInformationProcess64Fn query,
                NtWow64ReadVirtualMemory64Fn read)
        : process_(process), query_(query), read_(read) {}

    bool QueryBasicInformation(layout64::ProcessBasicInformation& info) override {
        return query_(process_, kBasicInformationClass, &info, sizeof(info), nullptr) == 0;
    }
    bool Read(uint64_t address, void* buffer, uint64_t size) override {
        return read_(process_, address, buffer, size, nullptr) == 0;
    }

private:
    HANDLE process_;
    NtWow64QueryInformationProcess64Fn query_;
    NtWow64ReadVirtualMemory64Fn read_;
};

// The layout follows the target's bitness as the platform reports it: on 32-bit Windows no
// process runs under WoW64 and all are 32-bit; on 64-bit Windows (where this build itself runs
// under WoW64) a process that does not is 64-bit.
std::u16string ReadUnits(HANDLE process) {
    BOOL self_wow64 = FALSE;
    BOOL target_wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &self_wow64) ||
        !IsWow64Process(process, &target_wow64)) {
        return {};
    }
    if (!self_wow64 || target_wow64) {
        NativeMemory32 memory(process);
        return layout32::ReadCommandLineUnits(memory);
    }
    auto query = nt_wow64_query_information_process64.TryGet();
    auto read = nt_wow64_read_virtual_memory64.TryGet();
    // Without the WoW64 services (32-bit Wine has none) a 64-bit process's command line cannot
    // be read: it counts as unreadable, not as an internal fault.
    if (!query || !read) return {};
    Wow64Memory memory(process, query, read);
    return layout64::ReadCommandLineUnits(memory);
}

#endif

// UTF-16 to code page 936, with the composite check asked for by the reader's contract.
std::string GbkFromUnits(const std::u16string& units) {
    if (units.empty()) return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(units.data());
    const int count = static_cast<int>(units.size());
    DWORD flags = WC_COMPOSITECHECK;
    int size = WideCharToMultiByte(936, flags, wide, count, nullptr, 0, nullptr, nullptr);
    if (size <= 0 && GetLastError() == ERROR_INVALID_FLAGS) {
        flags = 0;
        size = WideCharToMultiByte(936, flags, wide, count, nullptr, 0, nullptr, nullptr);
    }
    if (size <= 0) return {};
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(936, flags, wide, count, text.data(), size, nullptr, nullptr);
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    return text;
}

}  // namespace

std::vector<ProcessEntry> WinProcessSource::Snapshot() {
    std::vector<ProcessEntry> entries;
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return entries;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        entries.push_back({entry.th32ProcessID, GbkFromWide(entry.szExeFile)});
    }
    return entries;
}

std::string WinProcessSource::ReadCommandLine(uint32_t pid) {
    EnableDebugPrivilege();
    UniqueHandle process(OpenProcess(kQueryAndRead, FALSE, pid));
    if (!process) return {};
    return GbkFromUnits(ReadUnits(process.get()));
}

namespace {

enum class OneCall { kRead, kFailed, kUnsupported };

// The command line in one call: a UNICODE_STRING followed by its units (at most 32767 of them).
OneCall ReadInOneCall(HANDLE process, std::string* text) {
    struct CountedUnits {
        USHORT length;  // in bytes
        USHORT maximum_length;
        const char16_t* buffer;
    };
    std::vector<unsigned char> answer(sizeof(CountedUnits) + 2048);
    ULONG needed = 0;
    NtStatus status =
        nt_query_information_process.Get()(process, kCommandLineInformationClass, answer.data(),
                                           static_cast<ULONG>(answer.size()), &needed);
    if ((status == kStatusInfoLengthMismatch || status == kStatusBufferTooSmall) &&
        needed > answer.size() && needed <= sizeof(CountedUnits) + 65536) {
        answer.resize(needed);
        status =
            nt_query_information_process.Get()(process, kCommandLineInformationClass, answer.data(),
                                               static_cast<ULONG>(answer.size()), &needed);
    }
    if (status == kStatusInvalidInfoClass || status == kStatusNotImplemented)
        return OneCall::kUnsupported;
    if (status != 0) return OneCall::kFailed;
    CountedUnits counted;
    std::memcpy(&counted, answer.data(), sizeof counted);
    const auto* begin = reinterpret_cast<const unsigned char*>(counted.buffer);
    const unsigned char* first = answer.data();
    const unsigned char* last = answer.data() + answer.size();
    // The units lie in the answer itself; anything else is not trusted.
    if (counted.length % 2 != 0 || begin < first || begin > last ||
        static_cast<size_t>(last - begin) < counted.length)
        return OneCall::kFailed;
    std::u16string units(counted.length / 2, u'\0');
    std::memcpy(units.data(), begin, counted.length);
    *text = GbkFromUnits(units);
    return OneCall::kRead;
}

uint64_t CreationTime(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace

std::vector<ProcessEntry> QuickProcessSource::Snapshot() {
    std::vector<ProcessEntry> entries = WinProcessSource::Snapshot();
    std::vector<uint32_t> running;
    running.reserve(entries.size());
    for (const ProcessEntry& entry : entries) running.push_back(entry.pid);
    known_.KeepOnly(running);
    return entries;
}

std::string QuickProcessSource::ReadCommandLine(uint32_t pid) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return WinProcessSource::ReadCommandLine(pid);
    const uint64_t created = CreationTime(process.get());
    if (std::optional<std::string> line = known_.Find(pid, created)) return *line;
    std::string line;
    const OneCall one_call =
        one_call_unsupported_ ? OneCall::kUnsupported : ReadInOneCall(process.get(), &line);
    if (one_call == OneCall::kUnsupported) one_call_unsupported_ = true;
    if (one_call != OneCall::kRead) line = WinProcessSource::ReadCommandLine(pid);
    known_.Keep(pid, created, line);
    return line;
}
