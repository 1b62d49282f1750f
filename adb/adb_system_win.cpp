#include "adb/adb_system_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>

#include <algorithm>
#include <cmath>

#include "adb/adb_port.h"
#include "win/steady_clock.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

namespace adb {

namespace {

struct SocketTraits {
    using Type = SOCKET;
    static SOCKET Empty() { return INVALID_SOCKET; }
    static void Close(SOCKET s) { closesocket(s); }
};
using UniqueSocket = UniqueResource<SocketTraits>;

enum class Wait { kRead, kWrite };

// Waits until the socket is ready or the deadline passes. A failed connect shows as ready
// (its error is read with SO_ERROR).
IoStatus WaitReady(SOCKET s, Wait wait, double deadline) {
    for (;;) {
        const double left = std::max(0.0, deadline - SteadySeconds());
        const double whole = std::floor(left);
        timeval timeout = {static_cast<long>(whole), static_cast<long>((left - whole) * 1e6)};
        fd_set ready, failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(s, &ready);
        FD_SET(s, &failed);
        const int n = select(0, wait == Wait::kRead ? &ready : nullptr,
                             wait == Wait::kWrite ? &ready : nullptr, &failed, &timeout);
        if (n == SOCKET_ERROR) return IoStatus::kError;
        if (n > 0) return IoStatus::kOk;
        if (left <= 0) return IoStatus::kTimedOut;
    }
}

class WinAdbSocket : public AdbSocket {
public:
    IoStatus Connect(int port, double deadline) override {
        socket_.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        if (!socket_) return IoStatus::kError;
        u_long non_blocking = 1;
        if (ioctlsocket(socket_.get(), FIONBIO, &non_blocking) != 0) return IoStatus::kError;
        RefuseAtOnce();
        BOOL no_delay = TRUE;  // requests are small and wait for their answer
        setsockopt(socket_.get(), IPPROTO_TCP, TCP_NODELAY,
                   reinterpret_cast<const char*>(&no_delay), sizeof no_delay);

        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
            0) {
            return IoStatus::kOk;
        }
        const int error = WSAGetLastError();
        if (error == WSAECONNREFUSED) return IoStatus::kRefused;
        if (error != WSAEWOULDBLOCK) return IoStatus::kError;
        const IoStatus ready = WaitReady(socket_.get(), Wait::kWrite, deadline);
        if (ready != IoStatus::kOk) return ready;
        int result = 0;
        int size = sizeof result;
        if (getsockopt(socket_.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&result),
                       &size) != 0) {
            return IoStatus::kError;
        }
        if (result == 0) return IoStatus::kOk;
        return result == WSAECONNREFUSED ? IoStatus::kRefused : IoStatus::kError;
    }

    IoStatus Write(std::string_view bytes, double deadline) override {
        while (!bytes.empty()) {
            const int chunk = static_cast<int>(std::min<size_t>(bytes.size(), 1 << 16));
            const int sent = send(socket_.get(), bytes.data(), chunk, 0);
            if (sent > 0) {
                bytes.remove_prefix(static_cast<size_t>(sent));
                continue;
            }
            if (sent == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)
                return IoStatus::kError;
            const IoStatus ready = WaitReady(socket_.get(), Wait::kWrite, deadline);
            if (ready != IoStatus::kOk) return ready;
        }
        return IoStatus::kOk;
    }

    IoStatus Read(std::string* bytes, double deadline) override {
        // Straight into the caller's bytes: no buffer on the stack (a farm worker's is small).
        // As much as the caller has kept room for (a screen's worth, for a capture worker), up
        // to a megabyte, so that a large reply takes few calls: under Wine each one is a trip
        // to its server.
        constexpr size_t kLeastRoom = 65536;
        constexpr size_t kMostRoom = 1 << 20;
        const size_t had = bytes->size();
        const size_t room = std::clamp(bytes->capacity() - had, kLeastRoom, kMostRoom);
        for (;;) {
            bytes->resize(had + room);
            const int got = recv(socket_.get(), bytes->data() + had, static_cast<int>(room), 0);
            bytes->resize(had + static_cast<size_t>(std::max(got, 0)));
            if (got > 0) return IoStatus::kOk;
            if (got == 0) return IoStatus::kClosed;
            if (WSAGetLastError() != WSAEWOULDBLOCK) return IoStatus::kError;
            const IoStatus ready = WaitReady(socket_.get(), Wait::kRead, deadline);
            if (ready != IoStatus::kOk) return ready;
        }
    }

private:
    // Windows sends a refused connect's SYN again for about two seconds before it reports the
    // refusal; without retransmissions "no server" is known at once. Older systems refuse the
    // setting and keep their default.
    void RefuseAtOnce() {
        TCP_INITIAL_RTO_PARAMETERS rto = {TCP_INITIAL_RTO_UNSPECIFIED_RTT,
                                          TCP_INITIAL_RTO_NO_SYN_RETRANSMISSIONS};
        DWORD returned = 0;
        WSAIoctl(socket_.get(), SIO_TCP_INITIAL_RTO, &rto, sizeof rto, nullptr, 0, &returned,
                 nullptr, nullptr);
    }

    UniqueSocket socket_;
};

class WinFileSink : public ByteSink {
public:
    WinFileSink(std::wstring path, UniqueFileHandle file)
        : path_(std::move(path)), file_(std::move(file)) {}

    bool Write(std::string_view bytes) override {
        while (!bytes.empty()) {
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1 << 20));
            DWORD written = 0;
            if (!WriteFile(file_.get(), bytes.data(), chunk, &written, nullptr) || written == 0) {
                return false;
            }
            bytes.remove_prefix(written);
        }
        return true;
    }

    bool Close() override {
        const bool flushed = file_ && CloseHandle(file_.release()) != 0;
        return flushed;
    }

    void Discard() override {
        file_.reset();
        DeleteFileW(path_.c_str());
    }

private:
    std::wstring path_;
    UniqueFileHandle file_;
};

}  // namespace

WinAdbSystem::WinAdbSystem() {
    WSADATA data;
    ready_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

WinAdbSystem::~WinAdbSystem() {
    if (ready_) WSACleanup();
}

std::unique_ptr<AdbSocket> WinAdbSystem::NewSocket() {
    return std::make_unique<WinAdbSocket>();
}

double WinAdbSystem::Now() {
    return SteadySeconds();
}

std::unique_ptr<ByteSink> WinAdbSystem::CreateOutputFile(const std::string& path) {
    std::wstring wide = WideFromGbk(path);
    UniqueFileHandle file(CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    return std::make_unique<WinFileSink>(std::move(wide), std::move(file));
}

int ServerPortFromEnvironment() {
    wchar_t value[16] = {};
    const DWORD n = GetEnvironmentVariableW(L"ANDROID_ADB_SERVER_PORT", value, 16);
    if (n == 0 || n >= 16) return ServerPort("");
    return ServerPort(GbkFromWide(value));
}

}  // namespace adb
