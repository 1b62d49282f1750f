#include "mcp/message_parse.h"

#include <string>

#include "mcp/utf8_check.h"

namespace mcp {
namespace {

// Whether arrays and objects nest deeper than `max_depth` anywhere in the text (brackets inside
// strings do not count).
bool NestsDeeperThan(std::string_view text, std::size_t max_depth) {
    std::size_t depth = 0;
    bool in_string = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > max_depth) return true;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return false;
}

}  // namespace

std::variant<nlohmann::json, RpcError> ParseMessage(std::string_view text, std::size_t max_depth) {
    if (const auto bad = FirstBadUtf8Byte(text))
        return RpcError{
            rpc_error::kParseError,
            "Parse error: the message is not valid UTF-8 (byte " + std::to_string(*bad + 1) + ")"};
    if (NestsDeeperThan(text, max_depth))
        return RpcError{rpc_error::kInvalidRequest,
                        "Invalid request: arrays and objects nest deeper than " +
                            std::to_string(max_depth) + " levels"};
    try {
        return nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error& error) {
        return RpcError{rpc_error::kParseError, "Parse error: the message is not JSON (byte " +
                                                    std::to_string(error.byte) + ")"};
    }
}

}  // namespace mcp
