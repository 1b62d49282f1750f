// For one test that runs MEmuFarm: the adb server on a loopback port of the test's own, free
// when picked and named by ANDROID_ADB_SERVER_PORT (MEmuFarm and the tools it starts inherit
// it), and the end of the server a run started there.
#pragma once

#include <string>

// Runs the command line hidden from `folder`, waits for it (30 s at most) and returns its exit
// code: 9999 when it could not be started, 259 (still active) when it had not ended by then.
unsigned long RunHidden(const std::string& folder, const std::string& command);

// A loopback port nothing listens on: the system picks it for a socket that is then closed.
int FreeLoopbackPort();

class TestAdbPort {
public:
    TestAdbPort();
    ~TestAdbPort();
    TestAdbPort(const TestAdbPort&) = delete;
    TestAdbPort& operator=(const TestAdbPort&) = delete;

    int port() const { return port_; }
    // Clears the simulated tools' switches (a hung server would not end) and ends the server
    // with the installation's "adb.exe kill-server"; its exit code (0 also when none ran).
    unsigned long EndServer(const std::string& root);

private:
    int port_ = 0;
};
