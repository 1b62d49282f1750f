// The adb client's system on Windows: non-blocking Winsock connections to 127.0.0.1 whose
// waits end at their deadlines, the high-resolution steady clock, and files by wide path.
#pragma once

#include <memory>
#include <string>

#include "adb/adb_system.h"

namespace adb {

class WinAdbSystem : public AdbSystem {
public:
    // Starts Winsock for the object's life.
    WinAdbSystem();
    ~WinAdbSystem() override;
    WinAdbSystem(const WinAdbSystem&) = delete;
    WinAdbSystem& operator=(const WinAdbSystem&) = delete;

    // False when Winsock could not be started; every socket then fails to connect.
    bool Ready() const { return ready_; }

    std::unique_ptr<AdbSocket> NewSocket() override;
    double Now() override;
    std::unique_ptr<ByteSink> CreateOutputFile(const std::string& path) override;

private:
    bool ready_ = false;
};

// The port of the ANDROID_ADB_SERVER_PORT variable of this process, else 5037.
int ServerPortFromEnvironment();

}  // namespace adb
