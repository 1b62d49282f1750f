#include "support/test_adb_port.h"

#include <winsock2.h>
#include <windows.h>

#include "support/sim_install.h"
#include "win/unique_resource.h"
#include "win/wide_text.h"

int FreeLoopbackPort() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    closesocket(s);
    WSACleanup();
    return port;
}

TestAdbPort::TestAdbPort() : port_(FreeLoopbackPort()) {
    SetEnvironmentVariableW(L"ANDROID_ADB_SERVER_PORT", std::to_wstring(port_).c_str());
}

TestAdbPort::~TestAdbPort() {
    SetEnvironmentVariableW(L"ANDROID_ADB_SERVER_PORT", nullptr);
}

unsigned long RunHidden(const std::string& folder, const std::string& command) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring line = WideFromGbk(command);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        WideFromGbk(folder).c_str(), &startup, &info)) {
        return 9999;
    }
    UniqueHandle process(info.hProcess), thread(info.hThread);
    WaitForSingleObject(process.get(), 30000);
    DWORD code = 9999;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

unsigned long TestAdbPort::EndServer(const std::string& root) {
    SetSimSwitches(root, "");
    const std::string folder = root + "MEmu\\";
    return RunHidden(folder, "\"" + folder + "adb.exe\" kill-server");
}
