#include "support/http_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>

Winsock::Winsock() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

Winsock::~Winsock() {
    WSACleanup();
}

HttpAnswer HttpExchange(int port, const std::string& request, DWORD limit_ms, DWORD stall_ms,
                        const std::string& rest) {
    HttpAnswer answer;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return answer;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit_ms),
               sizeof limit_ms);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit_ms),
               sizeof limit_ms);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<u_short>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        closesocket(s);
        return answer;
    }
    const auto send_all = [s](const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const int n = send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
            if (n <= 0) return;
            sent += static_cast<size_t>(n);
        }
    };
    send_all(request);
    if (stall_ms) {
        Sleep(stall_ms);
        send_all(rest);
    }
    std::string got;
    char buffer[8192];
    for (;;) {
        const int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
    }
    closesocket(s);
    const size_t end = got.find("\r\n\r\n");
    if (got.rfind("HTTP/1.1 ", 0) != 0 || end == std::string::npos) return answer;
    answer.status = std::atoi(got.c_str() + 9);
    answer.head = got.substr(0, end);
    answer.body = got.substr(end + 4);
    return answer;
}
