// Fuzzes the adb server reply decoder. The first byte holds the options: bit 0 says an OKAY
// carries a length-prefixed text, bits 1-7 the size of the pieces the rest is fed in (0: all
// at once). The rest is what the server sent. Whatever the split, the decoder must reach the
// same verdict as an independent model that reads the whole stream, take exactly the reply's
// bytes and keep the rest for the stream after it.

#include <cstdint>
#include <string>
#include <string_view>

#include "adb/adb_codec.h"
#include "fuzz_support.h"

namespace {

struct Verdict {
    adb::ReplyState state = adb::ReplyState::kCutOff;
    std::string text;
    size_t consumed = 0;
};

int ModelHex(char c) {
    const std::string_view digits = "0123456789abcdef";
    const char lower = (c >= 'A' && c <= 'F') ? static_cast<char>(c + 32) : c;
    const size_t at = digits.find(lower);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

Verdict Model(std::string_view bytes, bool okay_has_text) {
    Verdict v;
    if (bytes.size() < 4) return v;
    const std::string_view status = bytes.substr(0, 4);
    const bool okay = status == "OKAY";
    if (!okay && status != "FAIL") return {adb::ReplyState::kMalformed, "", 0};
    if (okay && !okay_has_text) return {adb::ReplyState::kOkay, "", 4};
    if (bytes.size() < 8) return v;
    size_t length = 0;
    for (size_t i = 4; i < 8; ++i) {
        const int digit = ModelHex(bytes[i]);
        if (digit < 0) return {adb::ReplyState::kMalformed, "", 0};
        length = length * 16 + static_cast<size_t>(digit);
    }
    if (bytes.size() < 8 + length) return v;
    return {okay ? adb::ReplyState::kOkay : adb::ReplyState::kFail,
            std::string(bytes.substr(8, length)), 8 + length};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool okay_has_text = (data[0] & 1) != 0;
    const size_t piece = data[0] >> 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    adb::ReplyDecoder decoder(okay_has_text);
    size_t consumed = 0;
    for (size_t at = 0; at < bytes.size() && !decoder.Done();) {
        const std::string_view chunk = bytes.substr(at, piece == 0 ? bytes.size() : piece);
        const size_t used = decoder.Feed(chunk);
        FUZZ_REQUIRE(used <= chunk.size(), bytes);
        FUZZ_REQUIRE(used == chunk.size() || decoder.Done(), bytes);
        consumed += used;
        at += chunk.size();
    }
    decoder.EndOfStream();
    FUZZ_REQUIRE(decoder.Done(), bytes);

    const Verdict expected = Model(bytes, okay_has_text);
    FUZZ_REQUIRE(decoder.state() == expected.state, bytes);
    if (expected.state == adb::ReplyState::kOkay || expected.state == adb::ReplyState::kFail) {
        FUZZ_REQUIRE(decoder.text() == expected.text, bytes, decoder.text());
        FUZZ_REQUIRE(consumed == expected.consumed, bytes);
        FUZZ_REQUIRE(decoder.text().size() <= adb::kMaxRequestLength, bytes);
    }

    // A FAIL message framed back is the reply the decoder read (its length in either case).
    if (decoder.state() == adb::ReplyState::kFail) {
        const std::optional<std::string> framed = adb::FrameRequest(decoder.text());
        FUZZ_REQUIRE(framed && framed->size() + 4 == consumed, bytes);
        FUZZ_REQUIRE(
            adb::ParseHexLength(framed->substr(0, 4)) == adb::ParseHexLength(bytes.substr(4, 4)),
            bytes);
        FUZZ_REQUIRE(framed->substr(4) == bytes.substr(8, consumed - 8), bytes);
    }
    return 0;
}
