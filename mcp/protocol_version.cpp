#include "mcp/protocol_version.h"

namespace mcp {

std::string_view NegotiateProtocolVersion(std::string_view requested) {
    return requested == kPreviousProtocolVersion ? kPreviousProtocolVersion
                                                 : kLatestProtocolVersion;
}

bool IsHttpProtocolVersion(std::string_view version) {
    return version == kLatestProtocolVersion || version == kPreviousProtocolVersion ||
           version == kFirstHttpProtocolVersion;
}

}  // namespace mcp
