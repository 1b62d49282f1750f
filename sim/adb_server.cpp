#include "sim/adb_server.h"

#include <winsock2.h>
#include <windows.h>

#include <process.h>

#include <memory>
#include <mutex>
#include <set>

#include "sim/adb_device.h"
#include "sim/sim_common.h"
#include "win/unique_resource.h"

namespace sim {

namespace {

constexpr const char kTool[] = "adb.exe";
constexpr DWORD kStartWaitMs = 5000;
// Raw screens' memory kept for reuse: as many as are taken at once.
constexpr size_t kKeptScreens = 8;

struct SocketTraits {
    using Type = SOCKET;
    static SOCKET Empty() { return INVALID_SOCKET; }
    static void Close(SOCKET s) { closesocket(s); }
};
using UniqueSocket = UniqueResource<SocketTraits>;

class WinsockSession {
public:
    WinsockSession() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockSession() { WSACleanup(); }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
};

sockaddr_in Loopback(int port) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A blocking connection to the server on the port, or none when nothing listens.
UniqueSocket ConnectTo(int port) {
    UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    const sockaddr_in address = Loopback(port);
    if (!s || connect(s.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return UniqueSocket();
    }
    return s;
}

bool SendAll(SOCKET s, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const int sent = send(s, bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
        if (sent <= 0) return false;
        done += static_cast<size_t>(sent);
    }
    return true;
}

bool ReceiveExactly(SOCKET s, size_t size, std::string* bytes) {
    bytes->assign(size, '\0');
    size_t done = 0;
    while (done < size) {
        const int got = recv(s, bytes->data() + done, static_cast<int>(size - done), 0);
        if (got <= 0) return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

std::string Hex4(size_t n) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(n & 0xffff));
    return text;
}

// One request: four hex digits of length, then the text. False when the client left or sent
// something else.
bool ReadRequest(SOCKET s, std::string* request) {
    std::string length;
    if (!ReceiveExactly(s, 4, &length)) return false;
    char* end = nullptr;
    const unsigned long n = std::strtoul(length.c_str(), &end, 16);
    if (end != length.c_str() + 4) return false;
    return ReceiveExactly(s, n, request);
}

void Okay(SOCKET s, const std::string& then = "") {
    SendAll(s, "OKAY" + then);
}
void OkayText(SOCKET s, const std::string& text) {
    Okay(s, Hex4(text.size()) + text);
}
void Fail(SOCKET s, const std::string& message) {
    SendAll(s, "FAIL" + Hex4(message.size()) + message);
}

// A request that is accepted and never answered: the connection stays open until the client
// gives up.
void WaitForClientToLeave(SOCKET s) {
    char buffer[256];
    while (recv(s, buffer, sizeof buffer, 0) > 0) {
    }
}

// The switch rules for one request of the server ("adb.exe <service> <behaviour> [vm]").
struct Rules {
    bool hang = false;
    bool fail = false;
    bool missing = false;
    bool no_raw = false;  // `screencap` without -p prints the PNG, as a device that has no raw
    uint32_t boot_ms = 2000;
};

Rules ApplyRules(const std::string& root, const std::string& service, int vm) {
    Rules rules;
    for (const std::string& behaviour : SwitchBehaviours(root, kTool, service, vm)) {
        if (behaviour.rfind("delay=", 0) == 0) {
            Sleep(static_cast<DWORD>(std::strtoul(behaviour.c_str() + 6, nullptr, 10)));
        } else if (behaviour.rfind("boot=", 0) == 0) {
            rules.boot_ms = static_cast<uint32_t>(std::strtoul(behaviour.c_str() + 5, nullptr, 10));
        } else if (behaviour == "hang") {
            rules.hang = true;
            return rules;
        } else if (behaviour == "missing") {
            rules.missing = true;
            return rules;
        } else if (behaviour == "fail") {
            rules.fail = true;
        } else if (behaviour == "noraw") {
            rules.no_raw = true;
        }
    }
    return rules;
}

// The word of a request that switch rules name: "version", "transport", "shell", ...
std::string ServiceWord(const std::string& request) {
    std::string rest = request;
    if (rest.rfind("host:", 0) == 0) rest = rest.substr(5);
    return rest.substr(0, rest.find(':'));
}

class Server {
public:
    Server(std::string root) : root_(std::move(root)) {}

    void Serve(UniqueSocket client) {
        const SOCKET s = client.get();
        for (const std::string& behaviour : SwitchBehaviours(root_, kTool, "server", -1)) {
            if (behaviour == "hang") return WaitForClientToLeave(s);
        }
        std::string request;
        if (!ReadRequest(s, &request)) return;
        const std::string transport = "host:transport:";
        if (request.rfind(transport, 0) == 0) {
            ServeDevice(s, request.substr(transport.size()));
        } else {
            ServeHost(s, request);
        }
        shutdown(s, SD_SEND);
    }

private:
    // Journals the request and applies its rules; false when the rules answered it already.
    bool Admit(SOCKET s, const std::string& request, int vm, Rules* rules) {
        AppendJournal(root_, "adb-server", request);
        *rules = ApplyRules(root_, ServiceWord(request), vm);
        if (rules->hang) WaitForClientToLeave(s);
        if (rules->hang || rules->missing) return false;
        if (rules->fail) {
            Fail(s, "simulated failure of '" + ServiceWord(request) + "'");
            return false;
        }
        return true;
    }

    void ServeHost(SOCKET s, const std::string& request) {
        const std::string connect = "host:connect:";
        const bool connecting = request.rfind(connect, 0) == 0;
        const std::string target = connecting ? request.substr(connect.size()) : "";
        Rules rules;
        if (!Admit(s, request, connecting ? IndexOfTarget(target) : -1, &rules)) return;
        if (request == "host:version") {
            OkayText(s, "0029");
        } else if (request == "host:devices" || request == "host:devices-l") {
            OkayText(s, DeviceList(rules.boot_ms));
        } else if (connecting) {
            OkayText(s, Connect(target));
        } else if (request == "host:kill") {
            // The connection closes as the process ends, so the caller sees the server gone.
            Okay(s);
            ExitProcess(0);
        } else {
            Fail(s, "unknown host service");
        }
    }

    void ServeDevice(SOCKET s, const std::string& serial) {
        const int index = IndexOfTarget(serial);
        Rules rules;
        if (!Admit(s, "host:transport:" + serial, index, &rules)) return;
        const Device device = FindDevice(root_, index);
        if (!IsConnected(serial) || !device.running) {
            return Fail(s, "device '" + serial + "' not found");
        }
        if (!Booted(device, rules.boot_ms)) return Fail(s, "device offline");
        Okay(s);

        std::string service;
        if (!ReadRequest(s, &service)) return;
        Rules service_rules;
        if (!Admit(s, service, index, &service_rules)) return;
        if (service.rfind("shell:", 0) == 0) {
            Okay(s, Shell(root_, device, rules.boot_ms, service.substr(6)).text);
        } else if (service == "exec:screencap -p") {
            Okay(s, ScreenPng(index));
        } else if (service == "exec:screencap" && service_rules.no_raw) {
            Okay(s, ScreenPng(index));
        } else if (service == "exec:screencap") {
            // Cheap, as the raw screen is meant to be: the memory of the last one reused, and
            // the bytes sent as they are.
            std::string screen = ScreenRaw(index, TakeScreenMemory());
            Okay(s);
            SendAll(s, screen);
            GiveScreenMemory(std::move(screen));
        } else if (service.rfind("exec:", 0) == 0) {
            Okay(s, Shell(root_, device, rules.boot_ms, service.substr(5)).text);
        } else {
            Fail(s, "closed");
        }
    }

    std::string Connect(const std::string& target) {
        const int index = IndexOfTarget(target);
        if (index < 0 || !FindDevice(root_, index).running) {
            return "failed to connect to '" + target + "': 10061";
        }
        std::lock_guard<std::mutex> lock(mutex_);
        return connected_.insert(target).second ? "connected to " + target
                                                : "already connected to " + target;
    }

    std::string TakeScreenMemory() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (screens_.empty()) return {};
        std::string memory = std::move(screens_.back());
        screens_.pop_back();
        return memory;
    }
    void GiveScreenMemory(std::string memory) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (screens_.size() < kKeptScreens) screens_.push_back(std::move(memory));
    }

    bool IsConnected(const std::string& serial) {
        std::lock_guard<std::mutex> lock(mutex_);
        return connected_.count(serial) > 0;
    }

    std::string DeviceList(uint32_t boot_ms) {
        std::set<std::string> serials;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            serials = connected_;
        }
        std::string list;
        for (const std::string& serial : serials) {
            const Device device = FindDevice(root_, IndexOfTarget(serial));
            if (!device.running) continue;
            list += serial + (Booted(device, boot_ms) ? "\tdevice\n" : "\toffline\n");
        }
        return list;
    }

    std::string root_;
    std::mutex mutex_;
    std::set<std::string> connected_;   // devices a host:connect has reached
    std::vector<std::string> screens_;  // raw screens' memory, for the next ones
};

struct Connection {
    Server& server;
    UniqueSocket socket;
};

unsigned __stdcall ServeConnection(void* parameter) {
    const std::unique_ptr<Connection> connection(static_cast<Connection*>(parameter));
    connection->server.Serve(std::move(connection->socket));
    return 0;
}

// Each connection gets a thread of the system's own, started and let go here. Not a detached
// std::thread: with the toolchain's pthreads, a thread that ends before its creator has
// detached it (start-server's probe connection, closed at once, ends its thread at once) now
// and then left the server's accept loop stuck, the next connection unread, or the server
// crashed on freed memory; the client then waited for ever.
void ServeOnThreadOfItsOwn(Server& server, UniqueSocket client) {
    auto connection = std::make_unique<Connection>(Connection{server, std::move(client)});
    const UniqueHandle thread(reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, ServeConnection, connection.get(), 0, nullptr)));
    if (thread) connection.release();  // the thread owns it now
}

std::wstring OwnPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) return path.substr(0, n);
        path.resize(path.size() * 2);
    }
}

}  // namespace

int AdbServerPort() {
    wchar_t value[16] = {};
    const DWORD n = GetEnvironmentVariableW(L"ANDROID_ADB_SERVER_PORT", value, 16);
    int port = 0;
    if (n > 0 && n < 16 && ParseInt(ToGbk(value), &port) && port >= 1 && port <= 65535) {
        return port;
    }
    return 5037;
}

int RunAdbServer(const std::string& root, int port) {
    WinsockSession winsock;
    UniqueSocket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    BOOL exclusive = TRUE;
    setsockopt(listener.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
    const sockaddr_in address = Loopback(port);
    if (!listener ||
        bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener.get(), SOMAXCONN) != 0) {
        return 1;
    }
    Server server(root);
    for (;;) {
        UniqueSocket client(accept(listener.get(), nullptr, nullptr));
        if (client) ServeOnThreadOfItsOwn(server, std::move(client));
    }
}

int StartServerCommand(int port) {
    WinsockSession winsock;
    if (ConnectTo(port)) return 0;
    Write("* daemon not running; starting now at tcp:" + std::to_string(port) + "\r\n");
    const std::wstring program = OwnPath();
    std::wstring line = L"\"" + program + L"\" " + ToWide(kServerArgument) + L" server";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    // Detached and inheriting nothing: the caller's output pipe ends when this call does.
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE,
                        DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup,
                        &info)) {
        Write("* failed to start daemon\r\n");
        return 1;
    }
    UniqueHandle process(info.hProcess), thread(info.hThread);
    for (DWORD waited = 0; waited < kStartWaitMs; waited += 20) {
        if (ConnectTo(port)) {
            Write("* daemon started successfully\r\n");
            return 0;
        }
        if (WaitForSingleObject(process.get(), 20) == WAIT_OBJECT_0) break;
    }
    Write("* failed to start daemon\r\n");
    return 1;
}

int KillServerCommand(int port) {
    WinsockSession winsock;
    UniqueSocket s = ConnectTo(port);
    if (!s) return 0;  // no server: nothing to end
    std::string reply;
    if (!SendAll(s.get(), "0009host:kill") || !ReceiveExactly(s.get(), 4, &reply) ||
        reply != "OKAY") {
        Write("error: the server did not accept host:kill\r\n");
        return 1;
    }
    WaitForClientToLeave(s.get());  // the server closes the connection as it ends
    for (DWORD waited = 0; waited < kStartWaitMs && ConnectTo(port); waited += 20) Sleep(20);
    return 0;
}

}  // namespace sim
