// Which loopback port the adb server listens on.
#pragma once

#include <string_view>

namespace adb {

constexpr int kDefaultServerPort = 5037;

// The port named by the ANDROID_ADB_SERVER_PORT variable's value (empty when it is unset): a
// decimal number from 1 to 65535, nothing else around it; otherwise the default port.
int ServerPort(std::string_view variable_value);

}  // namespace adb
