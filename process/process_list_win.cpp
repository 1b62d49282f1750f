#include "process/process_list_win.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>

#include "win/system_function.h"
#include "win/wide_text.h"

namespace {

// The fields read here, where both Windows and the headers put them.
#ifdef _WIN64
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, CreateTime) == 0x20);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, ImageName) == 0x38);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, UniqueProcessId) == 0x50);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, HandleCount) == 0x60);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, VirtualMemoryCounters) == 0x70);
#else
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, CreateTime) == 0x20);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, ImageName) == 0x38);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, UniqueProcessId) == 0x44);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, HandleCount) == 0x4C);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, VirtualMemoryCounters) == 0x58);
#endif

constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

using QuerySystemInformation = NTSTATUS(WINAPI*)(SYSTEM_INFORMATION_CLASS, void*, ULONG, ULONG*);

uint64_t Ticks(const LARGE_INTEGER& value) {
    return static_cast<uint64_t>(value.QuadPart);
}

ProcessReading ReadingOf(const SYSTEM_PROCESS_INFORMATION& entry) {
    ProcessReading reading;
    reading.pid = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(entry.UniqueProcessId));
    if (entry.ImageName.Buffer && entry.ImageName.Length > 0)
        reading.exe_name = GbkFromWide(
            std::wstring_view(entry.ImageName.Buffer, entry.ImageName.Length / sizeof(wchar_t)));
    reading.cpu_time = Ticks(entry.UserTime) + Ticks(entry.KernelTime);
    reading.create_time = entry.CreateTime.QuadPart;
    reading.working_set = entry.VirtualMemoryCounters.WorkingSetSize;
    reading.private_bytes = entry.VirtualMemoryCounters.PagefileUsage;
    reading.peak_private_bytes = entry.VirtualMemoryCounters.PeakPagefileUsage;
    reading.handles = entry.HandleCount;
    return reading;
}

}  // namespace

std::optional<std::vector<ProcessReading>> ReadProcessList() {
    static SystemFunction<QuerySystemInformation> query("ntdll.dll", "NtQuerySystemInformation");
    const QuerySystemInformation call = query.TryGet();
    if (!call) return std::nullopt;
    // Grown and asked again while the list does not fit (processes come and go meanwhile).
    std::vector<unsigned char> buffer(256 * 1024);
    for (;;) {
        ULONG needed = 0;
        const NTSTATUS status = call(SystemProcessInformation, buffer.data(),
                                     static_cast<ULONG>(buffer.size()), &needed);
        if (status == kInfoLengthMismatch) {
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 64 * 1024));
            continue;
        }
        if (status < 0) return std::nullopt;
        break;
    }
    std::vector<ProcessReading> list;
    for (size_t offset = 0;;) {
        const auto* entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(&buffer[offset]);
        list.push_back(ReadingOf(*entry));
        if (entry->NextEntryOffset == 0) break;
        offset += entry->NextEntryOffset;
        if (offset + sizeof(SYSTEM_PROCESS_INFORMATION) > buffer.size()) break;
    }
    return list;
}
