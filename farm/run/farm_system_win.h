// The console companion's system on Windows: its tools started directly, the adb server over
// Winsock, the process list, the window walk, the files, a steady clock, and Ctrl+C turned into a
// request to start nothing new.
#pragma once

#include "adb/adb_system_win.h"
#include "farm/run/farm_system.h"
#include "farm/health/health_probes_win.h"
#include "install/console_build_store_win.h"
#include "process/direct_runner_win.h"
#include "process/process_source_win.h"
#include "process/run_console_win.h"

class WinFarmSystem : public FarmSystem {
public:
    WinFarmSystem();

    ToolRunner& Tools() override { return runner_; }
    ProcessSource& Processes() override { return processes_; }
    int32_t WindowWalk(int32_t window) override;
    bool FileExists(const std::string& path) override;
    std::string FileStart(const std::string& path, size_t size) override;
    std::optional<std::string> RemoveFile(const std::string& path) override;
    DeviceChannel& Devices() override { return devices_; }
    std::string DiscoverInstallDirectory() override;
    ConsoleBuildStore& Builds() override { return builds_; }
    FileReplacer& Files() override { return files_; }
    HealthProbes& Probes() override { return probes_; }
    std::string Utf8FromGbk(std::string_view gbk) override;
    int32_t TickCount() override;
    double Now() override;
    void Sleep(double seconds) override;
    bool StopRequested() override;
    void RunWorkers(size_t count, const std::function<void()>& work) override;

    // From now on the first Ctrl+C (or Ctrl+Break) asks to start nothing new and calls
    // `on_first`; a second one calls `on_second` and ends the program with exit code 1 (its
    // tools are left running).
    static void CatchInterrupts(void (*on_first)(), void (*on_second)());

private:
    DirectToolRunner runner_{ToolsNeedConsolesOfTheirOwn()};
    QuickProcessSource processes_;
    ProgramBuildStore builds_;
    AtomicFileReplacer files_;
    WinHealthProbes probes_;
    adb::WinAdbSystem adb_network_;
    DeviceChannel devices_{adb_network_, adb::ServerPortFromEnvironment(), runner_};
};
