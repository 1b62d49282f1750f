// What the console companion's core needs from the system, behind one interface so that every
// command is tested natively against a fake. The Windows side is farm/farm_system_win.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "farm/run/device_channel.h"
#include "farm/health/health_probes.h"
#include "install/manager_console.h"
#include "process/instance_scanner.h"
#include "process/tool_runner.h"

class FarmSystem {
public:
    virtual ~FarmSystem() = default;

    // Starts the emulator's tools; used from several threads at once.
    virtual ToolRunner& Tools() = 0;
    // The process list, for the headless process of each running VM.
    virtual ProcessSource& Processes() = 0;
    // The window walk from a VM's listed window (child, next, child, child, next, next).
    virtual int32_t WindowWalk(int32_t window) = 0;
    virtual bool FileExists(const std::string& path) = 0;
    // The first `size` bytes of a local file (fewer when it is shorter; empty when it cannot
    // be read).
    virtual std::string FileStart(const std::string& path, size_t size) = 0;
    // Removes a local file: nothing once it is gone (also when there was none), else the
    // system's reason why it is still there.
    virtual std::optional<std::string> RemoveFile(const std::string& path) = 0;
    // The VMs' Android, through the adb server (or adb.exe when none can be had); shared by
    // every thread of the run.
    virtual DeviceChannel& Devices() = 0;
    // Install-location discovery: a folder ending in a backslash, or empty.
    virtual std::string DiscoverInstallDirectory() = 0;
    // The manager console builds and the file write for `clone --console`.
    virtual ConsoleBuildStore& Builds() = 0;
    virtual FileReplacer& Files() = 0;

    // The health check's readings of processes and windows.
    virtual HealthProbes& Probes() = 0;
    // GBK to UTF-8, for the files that are written in UTF-8.
    virtual std::string Utf8FromGbk(std::string_view gbk) = 0;

    // The system tick count, signed, as screenshot file names use it.
    virtual int32_t TickCount() = 0;
    // Seconds on a steady clock, and a wait on it that ends early at Ctrl+C; both safe from any
    // thread.
    virtual double Now() = 0;
    virtual void Sleep(double seconds) = 0;
    // True once the user pressed Ctrl+C: nothing new is started after it.
    virtual bool StopRequested() = 0;

    // Runs `work` on `count` threads at once and returns when all have ended (by default on
    // std::thread; Windows gives its workers a smaller stack).
    virtual void RunWorkers(size_t count, const std::function<void()>& work);
};
