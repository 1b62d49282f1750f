// The adb server's smart-socket framing. A request is four hex digits giving the length of its
// text, then the text. A reply begins with "OKAY", or "FAIL" followed by four hex digits of
// length and the server's message. Some host requests (version, devices, connect) follow their
// OKAY with a length-prefixed text too.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace adb {

// The longest request text four hex digits can announce.
constexpr size_t kMaxRequestLength = 0xffff;

// The requests that reach a device, each spelled here only: switch the connection to the
// device, then run a command in its shell (output and errors mixed, as adb shell gives them)
// or exec it (its output as raw bytes, for pictures).
inline std::string TransportRequest(std::string_view serial) {
    return "host:transport:" + std::string(serial);
}
inline std::string ShellRequest(std::string_view command) {
    return "shell:" + std::string(command);
}
inline std::string ExecRequest(std::string_view command) {
    return "exec:" + std::string(command);
}

// "000chost:version" for "host:version"; nothing when the text is too long to frame.
std::optional<std::string> FrameRequest(std::string_view request);

// Reads four hex digits (either letter case); nothing when any of them is not a hex digit.
std::optional<size_t> ParseHexLength(std::string_view four);

enum class ReplyState {
    kPending,    // more bytes are needed
    kOkay,       // OKAY (and its text, when one was expected)
    kFail,       // FAIL and its message
    kMalformed,  // neither OKAY nor FAIL, or a length that is not four hex digits
    kCutOff,     // the connection ended inside the reply
};

// Decodes one reply from bytes that arrive in pieces of any size. Bytes after the reply (a
// shell's output after its OKAY) are left to the caller: Feed says how many it took.
class ReplyDecoder {
public:
    // With `okay_has_text`, an OKAY is followed by a length-prefixed text as well.
    explicit ReplyDecoder(bool okay_has_text = false) : okay_has_text_(okay_has_text) {}

    // Takes bytes until the reply is complete; returns how many of `bytes` it took.
    size_t Feed(std::string_view bytes);
    // The connection ended: a reply still pending was cut off.
    void EndOfStream();

    ReplyState state() const { return state_; }
    bool Done() const { return state_ != ReplyState::kPending; }
    // The FAIL message, or the text after OKAY.
    const std::string& text() const { return text_; }

private:
    enum class Stage { kStatus, kLength, kText };
    void Finish(ReplyState state) { state_ = state; }
    void StatusComplete();

    bool okay_has_text_;
    bool okay_ = false;
    Stage stage_ = Stage::kStatus;
    ReplyState state_ = ReplyState::kPending;
    std::string pending_;  // status or length bytes gathered so far
    size_t text_length_ = 0;
    std::string text_;
};

}  // namespace adb
