#include "mcp/protocol_version.h"

namespace mcp {

std::string_view NegotiateProtocolVersion(std::string_view requested) {
    return requested == kPreviousProtocolVersion ? kPreviousProtocolVersion
                                                 : kLatestProtocolVersion;
}

}  // namespace mcp
