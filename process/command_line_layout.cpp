#include "process/command_line_layout.h"

#include <vector>

namespace layout64 {

std::u16string ReadCommandLineUnits(ProcessMemory& memory) {
    ProcessBasicInformation basic = {};
    if (!memory.QueryBasicInformation(basic)) return {};

    PebHead peb = {};
    if (!memory.Read(basic.peb_base_address, &peb, sizeof(peb))) return {};

    ParametersPaths paths = {};
    if (!memory.Read(peb.process_parameters + kParametersPathsOffset, &paths, sizeof(paths)))
        return {};

    const UnicodeString& line = paths.command_line;
    if (static_cast<int64_t>(line.buffer) <= 0) return {};
    const auto byte_count = static_cast<int16_t>(line.length);
    if (byte_count <= 0) return {};

    // A failed read leaves zeros, which end the text at once.
    std::u16string units(static_cast<size_t>(byte_count) / 2, u'\0');
    if (units.empty()) return {};
    std::vector<char> bytes(static_cast<size_t>(byte_count), '\0');
    memory.Read(line.buffer, bytes.data(), bytes.size());
    for (size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                         (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    }
    // The text ends at its first zero unit, as a zero-terminated conversion would end it.
    units.resize(units.find(u'\0') == std::u16string::npos ? units.size() : units.find(u'\0'));
    return units;
}

}  // namespace layout64
