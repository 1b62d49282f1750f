// The control module object: one operation per memuc.exe / adb.exe sub-command. Each builds
// its command line from literals and arguments joined with nothing in between, runs it, and
// judges the reply by fixed phrases. Portable: the system is reached through ControlPlatform.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "control/control_platform.h"
#include "control/operations.h"
#include "control/vm_record.h"

class EmulatorControl {
public:
    // Runs EnsureWorkingDirectory (install-location discovery, then that folder is made
    // current), then sets tool_file to "memuc.exe".
    explicit EmulatorControl(ControlPlatform& platform);
    EmulatorControl(const EmulatorControl&) = default;
    EmulatorControl& operator=(const EmulatorControl&) = delete;
    virtual ~EmulatorControl() = default;

    // Directory operations.
    virtual bool EnsureWorkingDirectory();
    virtual bool SetToolDirectory(const std::string& folder);

    // Running-instance scanner: pid of the "MEmuHeadless.exe" running VM `index`, or 0.
    virtual int32_t FindHeadlessProcess(int32_t index);

    // List operations.
    virtual int ListVms(VmList& vms);
    virtual int ListWindowedVms(VmList& vms);
    virtual int32_t FirstWindowlessVm();

    // memuc operations. `wait` absent or false: detached start, result false.
    virtual bool CreateVm(const std::string& type);
    virtual bool RemoveVm(int32_t index);
    virtual bool CloneVm(int32_t index);
    virtual bool StartVm(int32_t index, std::optional<bool> wait = std::nullopt,
                         std::optional<int32_t> timeout_ms = std::nullopt);
    virtual bool StopVm(int32_t index, std::optional<bool> wait = std::nullopt,
                        std::optional<int32_t> timeout_ms = std::nullopt);
    virtual void StopAllVms();
    virtual bool RebootVm(int32_t index, std::optional<bool> wait = std::nullopt,
                          std::optional<int32_t> timeout_ms = std::nullopt);
    virtual bool IsVmRunning(int32_t index);
    virtual void RenameVm(int32_t index, const std::string& title);
    virtual void InstallApp(int32_t index, const std::string& install_arg,
                            const std::string& p_arg);
    virtual void UninstallApp(int32_t index, const std::string& app);
    virtual void StartApp(int32_t index, const std::string& app);
    virtual void StopApp(int32_t index, const std::string& app);
    virtual void ShakeVm(int32_t index);
    virtual void SendKey(int32_t index, const std::string& key);
    virtual bool ConnectVm(int32_t index);
    virtual bool DisconnectVm(int32_t index);
    virtual std::string ExecInVm(int32_t index, const std::string& command);

    // adb operations.
    virtual std::string AdbCommand(int32_t index, const std::string& command);
    virtual void InputText(int32_t index, const std::string& text);
    virtual void InputKeyEvent(int32_t index, int32_t keycode);
    virtual void InputTap(int32_t index, int32_t x, int32_t y);
    virtual void InputSwipe(int32_t index, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
    virtual void ClearAppData(int32_t index, const std::string& app);

    virtual bool SortWindows();
    virtual std::string GetConfig(int32_t index, const std::string& key);
    virtual bool SetConfig(int32_t index, const std::string& key, const std::string& value);
    virtual std::string Screenshot(int32_t index, const std::string& local_path);

    // The folder that holds memuc.exe, ending in a backslash when not empty.
    std::string control_dir;
    // The tool's file name: "memuc.exe".
    std::string tool_file;

private:
    // EnsureWorkingDirectory, then the list command as a captured run.
    std::string ListCommandReply();
    // ListVms (lines of exactly five fields) and ListWindowedVms (five or more fields, window
    // at least 1). Replaces the contents of `vms` and returns the record count.
    int CollectRecords(VmList& vms, bool windowed_only);
    // EnsureWorkingDirectory, then a captured run without time-out.
    std::string RunCaptured(const std::string& line);
    // Start/stop/reboot: captured with the caller's time-out when `wait` is true, judged by
    // the operation's phrase; otherwise started detached with result false.
    bool RunVmCommand(Op op, int32_t index, std::optional<bool> wait,
                      std::optional<int32_t> timeout_ms);
    // A captured run of the operation's line, judged by its rule.
    bool Judged(Op op, const OperationArgs& args);

    ControlPlatform& platform_;
};
