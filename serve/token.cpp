#include "serve/token.h"

#include <vector>

namespace serve {

std::optional<std::string> NewToken(RandomSource& random) {
    std::vector<unsigned char> bytes(kTokenBytes);
    if (!random.Fill(bytes.data(), bytes.size())) return std::nullopt;
    constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (unsigned char byte : bytes) {
        token += kHex[byte >> 4];
        token += kHex[byte & 0x0F];
    }
    return token;
}

TokenFile TokenFromFile(std::string_view content) {
    if (content.ends_with("\r\n"))
        content.remove_suffix(2);
    else if (content.ends_with("\n"))
        content.remove_suffix(1);
    if (content.starts_with("\xEF\xBB\xBF"))
        return {std::nullopt,
                "the token file starts with a UTF-8 byte order mark: save it as plain text"};
    for (std::size_t i = 0; i < content.size(); ++i) {
        const auto byte = static_cast<unsigned char>(content[i]);
        const std::string at = " at character " + std::to_string(i + 1);
        if (byte == ' ')
            return {std::nullopt,
                    "the token file holds a blank" + at + ": the token is one word on one line"};
        if (byte < 0x20 || byte == 0x7F) {
            constexpr char kHex[] = "0123456789ABCDEF";
            const std::string code = {'0', 'x', kHex[byte >> 4], kHex[byte & 0x0F]};
            return {std::nullopt, "the token file holds a control character (" + code + ")" + at +
                                      ": the token is one word on one line"};
        }
        if (byte > 0x7F)
            return {std::nullopt, "the token file holds a character that is not ASCII" + at +
                                      ": a token is sent in a header, in ASCII"};
    }
    if (content.size() < kShortestToken)
        return {std::nullopt, "the token in the token file is " + std::to_string(content.size()) +
                                  " characters long: it needs at least " +
                                  std::to_string(kShortestToken)};
    if (content.size() > kLongestToken)
        return {std::nullopt, "the token in the token file is longer than " +
                                  std::to_string(kLongestToken) + " characters"};
    return {std::string(content), ""};
}

bool SameSecret(std::string_view given, std::string_view secret) {
    // volatile: the compiler may neither stop at the first difference nor skip the loop.
    volatile unsigned char difference = given.size() == secret.size() ? 0 : 1;
    for (std::size_t i = 0; i < secret.size(); ++i) {
        const unsigned char other = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
        difference =
            difference | static_cast<unsigned char>(other ^ static_cast<unsigned char>(secret[i]));
    }
    return difference == 0;
}

}  // namespace serve
