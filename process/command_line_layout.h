// Where another process keeps its command line: its basic information, its PEB and its process
// parameters, in the 64-bit layouts (64-bit processes; the 32-bit build reaches them through
// the WoW64 services) and in the 32-bit layouts (32-bit processes, read by the 32-bit build).
// Both Windows builds use them, so they are declared once here, every offset checked at
// compile time, and followed by portable code that is unit-tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace layout64 {

// PROCESS_BASIC_INFORMATION, 64-bit.
struct ProcessBasicInformation {
    uint32_t exit_status;
    uint32_t alignment1;
    alignas(8) uint64_t peb_base_address;
    alignas(8) uint64_t affinity_mask;
    int32_t base_priority;
    uint32_t alignment2;
    alignas(8) uint64_t unique_process_id;
    alignas(8) uint64_t inherited_from_unique_process_id;
};
static_assert(sizeof(ProcessBasicInformation) == 48);
static_assert(offsetof(ProcessBasicInformation, peb_base_address) == 8);
static_assert(offsetof(ProcessBasicInformation, unique_process_id) == 32);

// The first 40 bytes of the PEB, 64-bit.
struct PebHead {
    uint8_t flags_mutant_image_base[24];
    alignas(8) uint64_t loader_data;
    alignas(8) uint64_t process_parameters;
};
static_assert(sizeof(PebHead) == 40);
static_assert(offsetof(PebHead, process_parameters) == 32);

// UNICODE_STRING, 64-bit. Length is in bytes, without a terminator.
struct UnicodeString {
    uint16_t length;
    uint16_t maximum_length;
    uint32_t alignment;
    alignas(8) uint64_t buffer;
};
static_assert(sizeof(UnicodeString) == 16);
static_assert(offsetof(UnicodeString, length) == 0);
static_assert(offsetof(UnicodeString, buffer) == 8);

// Bytes 96 to 127 of RTL_USER_PROCESS_PARAMETERS, 64-bit.
inline constexpr uint64_t kParametersPathsOffset = 96;
struct ParametersPaths {
    UnicodeString image_path_name;
    UnicodeString command_line;
};
static_assert(sizeof(ParametersPaths) == 32);
static_assert(kParametersPathsOffset + offsetof(ParametersPaths, command_line) == 112);

// Access to another process, as the platform offers it to this build.
class ProcessMemory {
public:
    virtual ~ProcessMemory() = default;
    // The basic information (information class 0); false when the query fails.
    virtual bool QueryBasicInformation(ProcessBasicInformation& info) = 0;
    // Reads `size` bytes at `address` into `buffer`; false when the read fails.
    virtual bool Read(uint64_t address, void* buffer, uint64_t size) = 0;
};

// The command line as UTF-16 code units; empty when a step fails, when its length (a signed
// 16-bit byte count) is not above 0, or when its address (a signed 64-bit number) is not above
// 0. An odd byte count loses its last byte; the text ends at its first zero unit.
std::u16string ReadCommandLineUnits(ProcessMemory& memory);

}  // namespace layout64

namespace layout32 {

// PROCESS_BASIC_INFORMATION, 32-bit.
struct ProcessBasicInformation {
    uint32_t exit_status;
    uint32_t peb_base_address;
    uint32_t affinity_mask;
    int32_t base_priority;
    uint32_t unique_process_id;
    uint32_t inherited_from_unique_process_id;
};
static_assert(sizeof(ProcessBasicInformation) == 24);
static_assert(offsetof(ProcessBasicInformation, peb_base_address) == 4);
static_assert(offsetof(ProcessBasicInformation, unique_process_id) == 16);

// The first 20 bytes of the PEB, 32-bit.
struct PebHead {
    uint8_t flags_mutant_image_base[12];
    uint32_t loader_data;
    uint32_t process_parameters;
};
static_assert(sizeof(PebHead) == 20);
static_assert(offsetof(PebHead, process_parameters) == 0x10);

// UNICODE_STRING, 32-bit. Length is in bytes, without a terminator.
struct UnicodeString {
    uint16_t length;
    uint16_t maximum_length;
    uint32_t buffer;
};
static_assert(sizeof(UnicodeString) == 8);
static_assert(offsetof(UnicodeString, buffer) == 4);

// Bytes 0x38 to 0x47 of RTL_USER_PROCESS_PARAMETERS, 32-bit.
inline constexpr uint32_t kParametersPathsOffset = 0x38;
struct ParametersPaths {
    UnicodeString image_path_name;
    UnicodeString command_line;
};
static_assert(sizeof(ParametersPaths) == 16);
static_assert(kParametersPathsOffset + offsetof(ParametersPaths, command_line) == 0x40);

// Access to a 32-bit process.
class ProcessMemory {
public:
    virtual ~ProcessMemory() = default;
    // The basic information (information class 0); false when the query fails.
    virtual bool QueryBasicInformation(ProcessBasicInformation& info) = 0;
    // Reads `size` bytes at `address` into `buffer`; false when the read fails.
    virtual bool Read(uint32_t address, void* buffer, uint32_t size) = 0;
};

// The command line as UTF-16 code units; empty when a step fails, when its length (a signed
// 16-bit byte count) is not above 0, or when its address is null. Large-address-aware
// processes use addresses above 2 GiB, so the address is not taken as signed. An odd byte
// count loses its last byte; the text ends at its first zero unit.
std::u16string ReadCommandLineUnits(ProcessMemory& memory);

}  // namespace layout32
