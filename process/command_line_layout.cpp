#include "process/command_line_layout.h"

#include <vector>

namespace {

// The text a command-line descriptor points to, read by `read(buffer, size)`: empty when the
// length, a signed 16-bit byte count, is not above 0. A failed read leaves zeros, which end the
// text at once; an odd byte count loses its last byte; the text ends at its first zero unit,
// as a zero-terminated conversion would end it.
template <typename ReadFn>
std::u16string ReadText(uint16_t length, ReadFn read) {
    const auto byte_count = static_cast<int16_t>(length);
    if (byte_count <= 0) return {};
    std::u16string units(static_cast<size_t>(byte_count) / 2, u'\0');
    if (units.empty()) return {};
    std::vector<char> bytes(static_cast<size_t>(byte_count), '\0');
    read(bytes.data(), bytes.size());
    for (size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                         (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    }
    units.resize(units.find(u'\0') == std::u16string::npos ? units.size() : units.find(u'\0'));
    return units;
}

// The three reads that lead to the command line (basic information, PEB head, the parameters'
// two path descriptors), the same in both layouts but for their widths. `usable` says whether
// the descriptor's text address may be read.
template <typename Memory, typename Basic, typename Peb, typename Paths, typename Address,
          typename UsableFn>
std::u16string ReadUnits(Memory& memory, Address parameters_paths_offset, UsableFn usable) {
    Basic basic = {};
    if (!memory.QueryBasicInformation(basic)) return {};

    Peb peb = {};
    if (!memory.Read(basic.peb_base_address, &peb, sizeof(peb))) return {};

    Paths paths = {};
    if (!memory.Read(peb.process_parameters + parameters_paths_offset, &paths, sizeof(paths)))
        return {};

    const auto& line = paths.command_line;
    if (!usable(line.buffer)) return {};
    return ReadText(line.length, [&](char* buffer, size_t size) {
        memory.Read(line.buffer, buffer, static_cast<Address>(size));
    });
}

}  // namespace

namespace layout64 {

std::u16string ReadCommandLineUnits(ProcessMemory& memory) {
    return ReadUnits<ProcessMemory, ProcessBasicInformation, PebHead, ParametersPaths, uint64_t>(
        memory, kParametersPathsOffset,
        [](uint64_t address) { return static_cast<int64_t>(address) > 0; });
}

}  // namespace layout64

namespace layout32 {

std::u16string ReadCommandLineUnits(ProcessMemory& memory) {
    return ReadUnits<ProcessMemory, ProcessBasicInformation, PebHead, ParametersPaths, uint32_t>(
        memory, kParametersPathsOffset, [](uint32_t address) { return address != 0; });
}

}  // namespace layout32
