// What the adb client needs from the system: loopback connections, a steady clock and files to
// write. Winsock and the Windows file API stand behind it in the program (adb_system_win.h);
// tests give a fake.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace adb {

enum class IoStatus {
    kOk,
    kClosed,    // the peer ended the connection (reads only)
    kRefused,   // nothing listens on the port (connect only)
    kTimedOut,  // the deadline passed first
    kError,     // any other failure (a reset connection, no socket)
};

// One TCP connection to 127.0.0.1. Every call waits at most until its deadline, in seconds on
// the system's steady clock (AdbSystem::Now).
class AdbSocket {
public:
    virtual ~AdbSocket() = default;
    virtual IoStatus Connect(int port, double deadline) = 0;
    // Sends all of `bytes`.
    virtual IoStatus Write(std::string_view bytes, double deadline) = 0;
    // Appends what has arrived (at least one byte) to `bytes`; kClosed at the end of the stream.
    virtual IoStatus Read(std::string* bytes, double deadline) = 0;
};

// A file being written; the file is complete only once Close has succeeded. Destroying it
// without Close or Discard closes it as it is.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual bool Write(std::string_view bytes) = 0;
    virtual bool Close() = 0;
    // Closes and deletes the file.
    virtual void Discard() = 0;
};

// Must be safe to call from many threads at once.
class AdbSystem {
public:
    virtual ~AdbSystem() = default;
    virtual std::unique_ptr<AdbSocket> NewSocket() = 0;
    // Seconds on a steady clock, from an arbitrary start.
    virtual double Now() = 0;
    // Creates or replaces the file (a GBK path); null when it cannot be created.
    virtual std::unique_ptr<ByteSink> CreateOutputFile(const std::string& path) = 0;
};

}  // namespace adb
