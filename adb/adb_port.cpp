#include "adb/adb_port.h"

namespace adb {

int ServerPort(std::string_view variable_value) {
    constexpr int kHighestPort = 65535;
    if (variable_value.empty()) return kDefaultServerPort;
    int port = 0;
    for (char c : variable_value) {
        if (c < '0' || c > '9') return kDefaultServerPort;
        port = port * 10 + (c - '0');
        if (port > kHighestPort) return kDefaultServerPort;
    }
    return port >= 1 ? port : kDefaultServerPort;
}

}  // namespace adb
