// What the control module needs from the system, behind one interface so that every command
// line and result rule is tested natively against a fake.
#pragma once

#include <cstdint>
#include <string>

#include "process/command_runner.h"
#include "process/instance_scanner.h"

class ControlPlatform : public CommandRunner {
public:
    // Starts the line directly (not through cmd.exe), hidden, without handle inheritance; waits
    // until it is idle for input or 1000 ms have passed; captures nothing.
    virtual void StartDetached(const std::string& command) = 0;

    // Current directory without a trailing backslash (as GetCurrentDirectoryA gives it); empty
    // on failure.
    virtual std::string CurrentDirectory() = 0;
    // SetCurrentDirectory (named apart from the Win32 macro of that name).
    virtual bool MakeDirectoryCurrent(const std::string& folder) = 0;
    virtual bool FileExists(const std::string& path) = 0;
    // Install-location discovery; a folder ending in a backslash, or empty.
    virtual std::string DiscoverInstallDirectory() = 0;

    // GetWindow walk: child, next, child, child, next, next; 0 as soon as a step finds none.
    virtual int32_t WindowWalk(int32_t window) = 0;

    // 1 ms wait that keeps the window responsive.
    virtual void ResponsiveWaitOneMs() = 0;
    // GetTickCount, as the signed 32-bit value the screenshot names use.
    virtual int32_t TickCount() = 0;

    virtual ProcessSource& Processes() = 0;
};
