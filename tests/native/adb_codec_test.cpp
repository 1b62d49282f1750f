// The smart-socket framing: requests, replies arriving in any split, and the server port.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "adb/adb_codec.h"
#include "adb/adb_port.h"
#include "row_name.h"

namespace {

using adb::ReplyDecoder;
using adb::ReplyState;

struct FrameRow {
    const char* name;
    std::string request;
    std::optional<std::string> framed_prefix;  // nothing: refused
};

class FrameRequestTest : public testing::TestWithParam<FrameRow> {};

TEST_P(FrameRequestTest, PrefixesTheLengthInFourHexDigits) {
    const FrameRow& row = GetParam();
    const std::optional<std::string> framed = adb::FrameRequest(row.request);
    if (!row.framed_prefix) {
        EXPECT_FALSE(framed);
        return;
    }
    ASSERT_TRUE(framed);
    EXPECT_EQ(*framed, *row.framed_prefix + row.request);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FrameRequestTest,
    testing::Values(FrameRow{"empty", "", "0000"}, FrameRow{"version", "host:version", "000c"},
                    FrameRow{"transport", "host:transport:127.0.0.1:21503", "001e"},
                    FrameRow{"lower_case_digits", std::string(0xab, 'x'), "00ab"},
                    FrameRow{"longest", std::string(0xffff, 'x'), "ffff"},
                    FrameRow{"one_too_long", std::string(0x10000, 'x'), std::nullopt}),
    RowName());

struct ReplyRow {
    const char* name;
    bool okay_has_text;
    std::string bytes;
    ReplyState state;  // after the bytes and the end of the stream
    std::string text;
    size_t consumed;  // bytes the reply takes; the rest belong to the stream after it
};

// Feeds `bytes` split into the given piece sizes, as reads deliver them.
struct Fed {
    ReplyState state;
    std::string text;
    size_t consumed = 0;
};

Fed FeedInPieces(const ReplyRow& row, size_t first_piece, size_t piece) {
    ReplyDecoder decoder(row.okay_has_text);
    Fed fed{ReplyState::kPending, "", 0};
    size_t at = 0;
    size_t size = first_piece;
    while (at < row.bytes.size() && !decoder.Done()) {
        const std::string chunk = row.bytes.substr(at, size);
        const size_t used = decoder.Feed(chunk);
        EXPECT_LE(used, chunk.size());
        fed.consumed += used;
        // Only a finished reply leaves bytes over.
        if (used < chunk.size()) {
            EXPECT_TRUE(decoder.Done());
        }
        at += chunk.size();
        size = piece;
    }
    decoder.EndOfStream();
    fed.state = decoder.state();
    fed.text = decoder.text();
    return fed;
}

class ReplyDecoderTest : public testing::TestWithParam<ReplyRow> {};

TEST_P(ReplyDecoderTest, DecodesWholeAndSplitAtEveryByte) {
    const ReplyRow& row = GetParam();
    const size_t whole = row.bytes.size() + 1;
    std::vector<std::pair<size_t, size_t>> splits = {{whole, whole}, {1, 1}};
    for (size_t cut = 1; cut < row.bytes.size() && row.bytes.size() < 64; ++cut) {
        splits.push_back({cut, whole});  // two reads, cut at every byte
    }
    for (const auto& [first, rest] : splits) {
        SCOPED_TRACE("first piece " + std::to_string(first) + ", then " + std::to_string(rest));
        const Fed fed = FeedInPieces(row, first, rest);
        EXPECT_EQ(fed.state, row.state);
        if (row.state == ReplyState::kOkay || row.state == ReplyState::kFail) {
            EXPECT_EQ(fed.text, row.text);
            EXPECT_EQ(fed.consumed, row.consumed);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReplyDecoderTest,
    testing::Values(
        ReplyRow{"okay", false, "OKAY", ReplyState::kOkay, "", 4},
        ReplyRow{"okay_then_shell_output", false, "OKAYuid=0\r\n", ReplyState::kOkay, "", 4},
        ReplyRow{"okay_with_text", true, "OKAY00040029", ReplyState::kOkay, "0029", 12},
        ReplyRow{"okay_with_empty_text", true, "OKAY0000", ReplyState::kOkay, "", 8},
        ReplyRow{"okay_upper_case_length", true, "OKAY000Aabcdefghijrest", ReplyState::kOkay,
                 "abcdefghij", 18},
        ReplyRow{"fail_message", false, "FAIL000edevice offline", ReplyState::kFail,
                 "device offline", 22},
        ReplyRow{"fail_message_when_text_expected", true, "FAIL0004nope", ReplyState::kFail, "nope",
                 12},
        ReplyRow{"fail_empty_message", false, "FAIL0000more", ReplyState::kFail, "", 8},
        ReplyRow{"fail_message_with_zero_byte", false, std::string("FAIL0003a\0b", 11),
                 ReplyState::kFail, std::string("a\0b", 3), 11},
        ReplyRow{"fail_longest_message", false, "FAILffff" + std::string(0xffff, 'm'),
                 ReplyState::kFail, std::string(0xffff, 'm'), 8 + 0xffff},
        ReplyRow{"length_not_hex", false, "FAIL00g1x", ReplyState::kMalformed, "", 0},
        ReplyRow{"length_with_blank", false, "FAIL 01ax", ReplyState::kMalformed, "", 0},
        ReplyRow{"okay_text_length_not_hex", true, "OKAY-001x", ReplyState::kMalformed, "", 0},
        ReplyRow{"unknown_status", false, "OKAX", ReplyState::kMalformed, "", 0},
        ReplyRow{"lower_case_status", false, "okay", ReplyState::kMalformed, "", 0},
        ReplyRow{"nothing", false, "", ReplyState::kCutOff, "", 0},
        ReplyRow{"cut_in_status", false, "OKA", ReplyState::kCutOff, "", 0},
        ReplyRow{"cut_in_length", false, "FAIL00", ReplyState::kCutOff, "", 0},
        ReplyRow{"cut_in_message", false, "FAIL0005abc", ReplyState::kCutOff, "", 0},
        ReplyRow{"cut_before_okay_text", true, "OKAY", ReplyState::kCutOff, "", 0}),
    RowName());

struct PortRow {
    const char* name;
    const char* value;
    int port;
};

class ServerPortTest : public testing::TestWithParam<PortRow> {};

TEST_P(ServerPortTest, ReadsTheVariableOrFallsBackTo5037) {
    EXPECT_EQ(adb::ServerPort(GetParam().value), GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ServerPortTest,
    testing::Values(PortRow{"unset", "", 5037}, PortRow{"zero_refused", "0", 5037},
                    PortRow{"lowest", "1", 1}, PortRow{"usual", "5038", 5038},
                    PortRow{"leading_zeros", "000080", 80}, PortRow{"highest", "65535", 65535},
                    PortRow{"one_too_high", "65536", 5037},
                    PortRow{"far_too_high", "99999999999", 5037}, PortRow{"negative", "-1", 5037},
                    PortRow{"plus_sign", "+80", 5037}, PortRow{"blank_around", " 80", 5037},
                    PortRow{"trailing_text", "80x", 5037}),
    RowName());

}  // namespace
