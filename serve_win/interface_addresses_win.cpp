#include "serve_win/interface_addresses_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include "win/system_function.h"

namespace {

// The IP helper is looked up at run time from the system folder: it is no known DLL.
SystemFunction<decltype(&GetAdaptersAddresses)> adapters_addresses("iphlpapi.dll",
                                                                   "GetAdaptersAddresses");

}  // namespace

std::vector<std::string> InterfaceAddresses() {
    std::vector<std::string> addresses;
    auto get = adapters_addresses.TryGet();
    if (!get) return addresses;
    ULONG size = 32 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = get(AF_UNSPEC, flags, nullptr,
                     reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR) return addresses;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter;
         adapter = adapter->Next) {
        for (IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast;
             unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            char text[INET6_ADDRSTRLEN] = {};
            if (address->sa_family == AF_INET) {
                const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
                if (!inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text)) continue;
            } else if (address->sa_family == AF_INET6) {
                const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
                if (!inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text)) continue;
            } else {
                continue;
            }
            addresses.emplace_back(text);
        }
    }
    return addresses;
}
