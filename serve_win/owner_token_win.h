// The owner's token on this PC: kept for the user in %LOCALAPPDATA%\MEmuFarm\token (made on
// the first start, readable by the user alone), or read from the owner's --token-file.
#pragma once

#include <optional>
#include <string>

#include "serve/token.h"

struct OwnerToken {
    std::optional<std::string> token;
    std::string problem;  // GBK: why there is none (the server then does not start)
};

// `token_file`: --token-file's full path (GBK), when given.
OwnerToken LoadOwnerToken(const std::optional<std::string>& token_file);

// The system's random generator (CNG), for tokens, the page's sessions and MCP's session ids.
namespace serve {
class RandomSource;
}
serve::RandomSource& SystemRandomSource();

// Where the token is kept for this user, full (GBK); empty when %LOCALAPPDATA% is unknown.
std::string KeptTokenPath();
