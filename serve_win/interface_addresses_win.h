// The addresses of this PC's own network interfaces, for the Host rule of a server that
// listens on every interface.
#pragma once

#include <string>
#include <vector>

// Each unicast address as text: "192.168.1.5", "fe80::1" (IPv6 without brackets or zone).
std::vector<std::string> InterfaceAddresses();
