// Fuzzes the reading of another process's command line out of its 64-bit structures. The
// input is that process's memory, mapped at a fixed address; its first 48 bytes also answer the
// basic-information query. Every pointer and length in the structures comes from the input.

#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "process/command_line_layout.h"

namespace {

constexpr uint64_t kImageAddress = 0x10000;

class ImageMemory : public layout64::ProcessMemory {
public:
    ImageMemory(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool QueryBasicInformation(layout64::ProcessBasicInformation& info) override {
        if (size_ < sizeof(info)) return false;
        std::memcpy(&info, data_, sizeof(info));
        return true;
    }
    bool Read(uint64_t address, void* buffer, uint64_t size) override {
        if (!Holds(address, size)) return false;
        std::memcpy(buffer, data_ + (address - kImageAddress), size);
        return true;
    }
    bool Holds(uint64_t address, uint64_t size) const {
        return address >= kImageAddress && address - kImageAddress <= size_ &&
               size <= size_ - (address - kImageAddress);
    }
    // Little-endian number of `bytes` bytes at `address`, which Holds() has vouched for.
    uint64_t Le(uint64_t address, int bytes) const {
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= static_cast<uint64_t>(data_[address - kImageAddress + i]) << (8 * i);
        return value;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

// The reader's rules, taken straight from the byte layout rather than from the structures.
std::u16string ModelUnits(const ImageMemory& memory, size_t size) {
    if (size < 48) return {};
    const uint64_t peb = memory.Le(kImageAddress + 8, 8);
    if (!memory.Holds(peb, 40)) return {};
    const uint64_t paths = memory.Le(peb + 32, 8) + 96;
    if (!memory.Holds(paths, 32)) return {};
    const auto length = static_cast<int16_t>(memory.Le(paths + 16, 2));
    const uint64_t buffer = memory.Le(paths + 24, 8);
    if (static_cast<int64_t>(buffer) <= 0 || length <= 0) return {};
    const size_t bytes = static_cast<size_t>(length);
    if (!memory.Holds(buffer, bytes)) return {};  // a failed read leaves zeros: empty text
    std::u16string units;
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        const auto unit = static_cast<char16_t>(memory.Le(buffer + i, 2));
        if (unit == 0) break;
        units.push_back(unit);
    }
    return units;
}

std::string Bytes(const std::u16string& units) {
    return std::string(reinterpret_cast<const char*>(units.data()), units.size() * 2);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InstallCrashingFatalHandler();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ImageMemory memory(data, size);
    const std::u16string units = layout64::ReadCommandLineUnits(memory);
    const std::u16string expected = ModelUnits(memory, size);
    FUZZ_REQUIRE(units == expected, Bytes(units), Bytes(expected));
    FUZZ_REQUIRE(units.find(u'\0') == std::u16string::npos, Bytes(units));
    FUZZ_REQUIRE(units.size() <= 16383, Bytes(units));  // at most 32767 bytes
    return 0;
}
