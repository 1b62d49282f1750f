#include "process/command_line_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

namespace {

// A sparse fake address space with the three structures at known places.
class FakeMemory : public layout64::ProcessMemory {
public:
    static constexpr uint64_t kPeb = 0x7FF6'0000'1000;
    static constexpr uint64_t kParameters = 0x0000'01F0'0000'2000;
    static constexpr uint64_t kText = 0x0000'01F0'0000'8000;

    explicit FakeMemory(const std::u16string& command_line) {
        SetBytes(kPeb + 32, &kParameters, 8);
        SetCommandLine(command_line, kText);
        for (size_t i = 0; i <= command_line.size(); ++i) {
            char16_t unit = i < command_line.size() ? command_line[i] : u'\0';
            uint8_t le[2] = {static_cast<uint8_t>(unit & 0xFF), static_cast<uint8_t>(unit >> 8)};
            SetBytes(kText + 2 * i, le, 2);
        }
    }
    void SetCommandLine(const std::u16string& text, uint64_t address) {
        auto length = static_cast<uint16_t>(text.size() * 2);
        SetDescriptor(length, address);
    }
    void SetDescriptor(uint16_t length, uint64_t address) {
        uint8_t descriptor[16] = {};
        std::memcpy(descriptor, &length, 2);
        std::memcpy(descriptor + 2, &length, 2);
        std::memcpy(descriptor + 8, &address, 8);
        SetBytes(kParameters + 112, descriptor, 16);
        // The image path descriptor in front of it is read as well, and must not matter.
        uint8_t image[16];
        std::memset(image, 0xEE, sizeof(image));
        SetBytes(kParameters + 96, image, 16);
    }
    void SetBytes(uint64_t address, const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < size; ++i) bytes_[address + i] = p[i];
    }

    bool QueryBasicInformation(layout64::ProcessBasicInformation& info) override {
        if (fail_query) return false;
        uint8_t raw[48];
        std::memset(raw, 0xCC, sizeof(raw));
        std::memcpy(raw + 8, &kPeb, 8);
        std::memcpy(&info, raw, sizeof(raw));
        return true;
    }
    bool Read(uint64_t address, void* buffer, uint64_t size) override {
        reads.push_back({address, size});
        if (address == fail_read_at) return false;
        auto* out = static_cast<uint8_t*>(buffer);
        for (uint64_t i = 0; i < size; ++i) {
            auto it = bytes_.find(address + i);
            out[i] = it == bytes_.end() ? 0xAB : it->second;
        }
        return true;
    }

    bool fail_query = false;
    uint64_t fail_read_at = 0;
    std::vector<std::pair<uint64_t, uint64_t>> reads;

private:
    std::map<uint64_t, uint8_t> bytes_;
};

TEST(CommandLineLayoutTest, FollowsPebToParametersToText) {
    const std::u16string line = u"MEmuHeadless.exe --comment MEmu_12 --startvm \u900d\u9065";
    FakeMemory memory(line);
    EXPECT_EQ(layout64::ReadCommandLineUnits(memory), line);
    ASSERT_EQ(memory.reads.size(), 3u);
    EXPECT_EQ(memory.reads[0], std::make_pair(FakeMemory::kPeb, uint64_t{40}));
    EXPECT_EQ(memory.reads[1], std::make_pair(FakeMemory::kParameters + 96, uint64_t{32}));
    EXPECT_EQ(memory.reads[2], std::make_pair(FakeMemory::kText, uint64_t{line.size() * 2}));
}

TEST(CommandLineLayoutTest, FailedStepsGiveEmptyText) {
    {
        FakeMemory memory(u"abc");
        memory.fail_query = true;
        EXPECT_EQ(layout64::ReadCommandLineUnits(memory), u"");
        EXPECT_TRUE(memory.reads.empty());
    }
    for (uint64_t address : {FakeMemory::kPeb, FakeMemory::kParameters + 96}) {
        FakeMemory memory(u"abc");
        memory.fail_read_at = address;
        EXPECT_EQ(layout64::ReadCommandLineUnits(memory), u"") << address;
    }
    {
        // The text read itself fails: nothing usable comes back.
        FakeMemory memory(u"abc");
        memory.fail_read_at = FakeMemory::kText;
        EXPECT_EQ(layout64::ReadCommandLineUnits(memory), u"");
    }
}

TEST(CommandLineLayoutTest, DescriptorLimits) {
    struct Case {
        uint16_t length;
        uint64_t address;
        std::u16string expected;
    };
    const Case cases[] = {
        {6, FakeMemory::kText, u"abc"},
        {5, FakeMemory::kText, u"ab"},     // odd byte count loses a byte
        {0, FakeMemory::kText, u""},       // no text
        {0x8000, FakeMemory::kText, u""},  // 32768 bytes: negative length
        {0xFFFE, FakeMemory::kText, u""},  // negative length
        {6, 0, u""},                       // null address
        {6, 0xFFFF'8000'0000'0000, u""},   // negative as signed 64-bit
        {4, FakeMemory::kText + 2, u"bc"},
    };
    for (const Case& c : cases) {
        FakeMemory memory(u"abc");
        memory.SetDescriptor(c.length, c.address);
        EXPECT_EQ(layout64::ReadCommandLineUnits(memory), c.expected) << c.length;
    }
}

TEST(CommandLineLayoutTest, TextEndsAtFirstZeroUnit) {
    FakeMemory memory(std::u16string(u"ab\0cd", 5));
    EXPECT_EQ(layout64::ReadCommandLineUnits(memory), u"ab");
}

}  // namespace
