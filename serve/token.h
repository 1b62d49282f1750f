// The owner's token: made at start from the system's random generator, or read from
// --token-file; compared without an early exit.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace serve {

// The bytes of a new token. The Windows side asks the system's generator; tests give a fake.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    // Fills `size` bytes; false when the generator failed (the server then does not start).
    virtual bool Fill(unsigned char* bytes, std::size_t size) = 0;
};

constexpr std::size_t kTokenBytes = 32;
constexpr std::size_t kShortestToken = 32;   // characters of a --token-file token
constexpr std::size_t kLongestToken = 1024;  // so that it fits in any header block

// kTokenBytes random bytes as lowercase hex; nothing when the source failed.
std::optional<std::string> NewToken(RandomSource& random);

// A --token-file's content made a token: one line end at the end (CR LF or LF) is dropped,
// nothing else. The token or the reason it is refused.
struct TokenFile {
    std::optional<std::string> token;
    std::string problem;
};
TokenFile TokenFromFile(std::string_view content);

// Whether `given` equals `secret`. Takes as long for every `given` of one length: every byte
// of `secret` is read and compared, whatever differs and where, so the time tells at most the
// given text's length.
bool SameSecret(std::string_view given, std::string_view secret);

}  // namespace serve
