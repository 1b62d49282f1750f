#include "process/command_line_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

namespace {

// Where each layout keeps things, written out as numbers (not taken from the structures), and
// where the fake puts the three structures.
struct Layout64 {
    using Memory = layout64::ProcessMemory;
    using BasicInformation = layout64::ProcessBasicInformation;
    using Address = uint64_t;
    static constexpr size_t kBasicSize = 48, kBasicPebAt = 8;
    static constexpr size_t kPebSize = 40, kPebParametersAt = 32;
    static constexpr size_t kImagePathAt = 96, kCommandLineAt = 112, kPathsSize = 32;
    static constexpr size_t kDescriptorSize = 16, kDescriptorBufferAt = 8;
    static constexpr uint64_t kPeb = 0x7FF6'0000'1000;
    static constexpr uint64_t kParameters = 0x0000'01F0'0000'2000;
    static constexpr uint64_t kText = 0x0000'01F0'0000'8000;
    static std::u16string ReadUnits(Memory& memory) {
        return layout64::ReadCommandLineUnits(memory);
    }
};

struct Layout32 {
    using Memory = layout32::ProcessMemory;
    using BasicInformation = layout32::ProcessBasicInformation;
    using Address = uint32_t;
    static constexpr size_t kBasicSize = 24, kBasicPebAt = 4;
    static constexpr size_t kPebSize = 20, kPebParametersAt = 0x10;
    static constexpr size_t kImagePathAt = 0x38, kCommandLineAt = 0x40, kPathsSize = 16;
    static constexpr size_t kDescriptorSize = 8, kDescriptorBufferAt = 4;
    static constexpr uint64_t kPeb = 0x7FFD'E000;
    static constexpr uint64_t kParameters = 0x0002'0000;
    // Above 2 GiB, as in a large-address-aware process: still an address.
    static constexpr uint64_t kText = 0x8765'4000;
    static std::u16string ReadUnits(Memory& memory) {
        return layout32::ReadCommandLineUnits(memory);
    }
};

// A sparse fake address space with the three structures at the layout's places.
template <typename L>
class FakeMemory : public L::Memory {
public:
    explicit FakeMemory(const std::u16string& command_line) {
        const auto parameters = static_cast<typename L::Address>(L::kParameters);
        SetBytes(L::kPeb + L::kPebParametersAt, &parameters, sizeof(parameters));
        SetDescriptor(static_cast<uint16_t>(command_line.size() * 2), L::kText);
        for (size_t i = 0; i <= command_line.size(); ++i) {
            char16_t unit = i < command_line.size() ? command_line[i] : u'\0';
            uint8_t le[2] = {static_cast<uint8_t>(unit & 0xFF), static_cast<uint8_t>(unit >> 8)};
            SetBytes(L::kText + 2 * i, le, 2);
        }
    }
    void SetDescriptor(uint16_t length, uint64_t address) {
        uint8_t descriptor[L::kDescriptorSize] = {};
        const auto buffer = static_cast<typename L::Address>(address);
        std::memcpy(descriptor, &length, 2);
        std::memcpy(descriptor + 2, &length, 2);
        std::memcpy(descriptor + L::kDescriptorBufferAt, &buffer, sizeof(buffer));
        SetBytes(L::kParameters + L::kCommandLineAt, descriptor, sizeof(descriptor));
        // The image path descriptor in front of it is read as well, and must not matter.
        uint8_t image[L::kDescriptorSize];
        std::memset(image, 0xEE, sizeof(image));
        SetBytes(L::kParameters + L::kImagePathAt, image, sizeof(image));
    }
    void SetBytes(uint64_t address, const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < size; ++i) bytes_[address + i] = p[i];
    }

    bool QueryBasicInformation(typename L::BasicInformation& info) override {
        static_assert(sizeof(info) == L::kBasicSize);
        if (fail_query) return false;
        uint8_t raw[L::kBasicSize];
        const auto peb = static_cast<typename L::Address>(L::kPeb);
        std::memset(raw, 0xCC, sizeof(raw));
        std::memcpy(raw + L::kBasicPebAt, &peb, sizeof(peb));
        std::memcpy(&info, raw, sizeof(raw));
        return true;
    }
    bool Read(typename L::Address address, void* buffer, typename L::Address size) override {
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

template <typename L>
class CommandLineLayoutTest : public testing::Test {};
using Layouts = testing::Types<Layout64, Layout32>;
TYPED_TEST_SUITE(CommandLineLayoutTest, Layouts);

TYPED_TEST(CommandLineLayoutTest, FollowsPebToParametersToText) {
    using L = TypeParam;
    const std::u16string line = u"MEmuHeadless.exe --comment MEmu_12 --startvm \u900d\u9065";
    FakeMemory<L> memory(line);
    EXPECT_EQ(L::ReadUnits(memory), line);
    ASSERT_EQ(memory.reads.size(), 3u);
    EXPECT_EQ(memory.reads[0], std::make_pair(L::kPeb, uint64_t{L::kPebSize}));
    EXPECT_EQ(memory.reads[1],
              std::make_pair(L::kParameters + L::kImagePathAt, uint64_t{L::kPathsSize}));
    EXPECT_EQ(memory.reads[2], std::make_pair(L::kText, uint64_t{line.size() * 2}));
}

TYPED_TEST(CommandLineLayoutTest, FailedStepsGiveEmptyText) {
    using L = TypeParam;
    {
        FakeMemory<L> memory(u"abc");
        memory.fail_query = true;
        EXPECT_EQ(L::ReadUnits(memory), u"");
        EXPECT_TRUE(memory.reads.empty());
    }
    // The PEB, the parameters or the text itself cannot be read: nothing usable comes back.
    for (uint64_t address : {L::kPeb, L::kParameters + L::kImagePathAt, L::kText}) {
        FakeMemory<L> memory(u"abc");
        memory.fail_read_at = address;
        EXPECT_EQ(L::ReadUnits(memory), u"") << address;
    }
}

TYPED_TEST(CommandLineLayoutTest, DescriptorLimits) {
    using L = TypeParam;
    struct Case {
        uint16_t length;
        uint64_t address;
        std::u16string expected;
    };
    std::vector<Case> cases = {
        {6, L::kText, u"abc"},
        {5, L::kText, u"ab"},     // odd byte count loses a byte
        {0, L::kText, u""},       // no text
        {0x8000, L::kText, u""},  // 32768 bytes: negative length
        {0xFFFE, L::kText, u""},  // negative length
        {6, 0, u""},              // null address
        {4, L::kText + 2, u"bc"},
    };
    if (sizeof(typename L::Address) == 8) {
        cases.push_back({6, 0xFFFF'8000'0000'0000, u""});  // negative as signed 64-bit
    }
    for (const Case& c : cases) {
        FakeMemory<L> memory(u"abc");
        memory.SetDescriptor(c.length, c.address);
        EXPECT_EQ(L::ReadUnits(memory), c.expected) << c.length << " " << c.address;
    }
}

TYPED_TEST(CommandLineLayoutTest, TextEndsAtFirstZeroUnit) {
    FakeMemory<TypeParam> memory(std::u16string(u"ab\0cd", 5));
    EXPECT_EQ(TypeParam::ReadUnits(memory), u"ab");
}

}  // namespace
