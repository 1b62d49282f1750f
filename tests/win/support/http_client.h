// A bare HTTP/1.1 client over Winsock for the Windows-side tests and the benchmark: one
// request per connection, written byte for byte as given (so a test can send what no
// well-behaved client would), read until the server closes.
#pragma once

#include <windows.h>

#include <string>

struct HttpAnswer {
    int status = 0;  // 0: the connection closed (or timed out) without an answer
    std::string head;
    std::string body;
};

// Sends `request` to 127.0.0.1:`port` (and, after `stall_ms`, `rest`), then reads the answer;
// every wait bounded by `limit_ms`.
HttpAnswer HttpExchange(int port, const std::string& request, DWORD limit_ms = 60000,
                        DWORD stall_ms = 0, const std::string& rest = {});

// Winsock for the life of the object.
class Winsock {
public:
    Winsock();
    ~Winsock();
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;
};
