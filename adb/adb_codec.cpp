#include "adb/adb_codec.h"

#include <algorithm>

namespace adb {

namespace {

constexpr size_t kFieldSize = 4;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::string> FrameRequest(std::string_view request) {
    if (request.size() > kMaxRequestLength) return std::nullopt;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string framed(kFieldSize, '0');
    for (size_t i = 0, n = request.size(); i < kFieldSize; ++i, n >>= 4) {
        framed[kFieldSize - 1 - i] = kDigits[n & 0xf];
    }
    framed.append(request);
    return framed;
}

std::optional<size_t> ParseHexLength(std::string_view four) {
    if (four.size() != kFieldSize) return std::nullopt;
    size_t value = 0;
    for (char c : four) {
        const int digit = HexValue(c);
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<size_t>(digit);
    }
    return value;
}

void ReplyDecoder::StatusComplete() {
    if (pending_ == "OKAY") {
        okay_ = true;
        if (!okay_has_text_) return Finish(ReplyState::kOkay);
    } else if (pending_ != "FAIL") {
        return Finish(ReplyState::kMalformed);
    }
    pending_.clear();
    stage_ = Stage::kLength;
}

size_t ReplyDecoder::Feed(std::string_view bytes) {
    size_t used = 0;
    while (state_ == ReplyState::kPending && used < bytes.size()) {
        if (stage_ == Stage::kText) {
            const size_t take = std::min(text_length_ - text_.size(), bytes.size() - used);
            text_.append(bytes.substr(used, take));
            used += take;
        } else {
            const size_t take = std::min(kFieldSize - pending_.size(), bytes.size() - used);
            pending_.append(bytes.substr(used, take));
            used += take;
            if (pending_.size() < kFieldSize) continue;
            if (stage_ == Stage::kStatus) {
                StatusComplete();
                continue;
            }
            const std::optional<size_t> length = ParseHexLength(pending_);
            if (!length) return Finish(ReplyState::kMalformed), used;
            text_length_ = *length;
            stage_ = Stage::kText;
        }
        if (stage_ == Stage::kText && text_.size() == text_length_) {
            Finish(okay_ ? ReplyState::kOkay : ReplyState::kFail);
        }
    }
    return used;
}

void ReplyDecoder::EndOfStream() {
    if (state_ == ReplyState::kPending) Finish(ReplyState::kCutOff);
}

}  // namespace adb
