#include "control/emulator_control.h"

#include <optional>

#include "control/list_reply.h"
#include "text/gbk_text.h"

namespace {

using gbk::Decimal;

// Result phrases of the tool, searched case-sensitively anywhere in the captured output.
constexpr const char* kCreateFinished = "create vm finished.index";
constexpr const char* kDeleteFinished = "SUCCESS: delete vm finished.";
constexpr const char* kCloneFinished = "SUCCESS: clone vm finished.";
constexpr const char* kStartFinished = "SUCCESS: start vm finished.";
constexpr const char* kStopFinished = "SUCCESS: stop vm finished.";
constexpr const char* kRebootFinished = "SUCCESS: reboot android finished.";
constexpr const char* kNotRunning = "Not Running";
constexpr const char* kConnectSuccess = "SUCCESS: ";
constexpr const char* kSuccess = "SUCCESS";
constexpr const char* kStillWaiting = "wait for 30000";

constexpr const char* kDefaultVmType = "51";
constexpr int32_t kFirstAdbPort = 21503;
constexpr int32_t kAdbPortStep = 10;

bool SucceededOrStillWaiting(const std::string& output) {
    return gbk::Contains(output, kSuccess) || gbk::Contains(output, kStillWaiting);
}

}  // namespace

EmulatorControl::EmulatorControl(ControlPlatform& platform) : platform_(platform) {
    EnsureWorkingDirectory();
    tool_file = "memuc.exe";
}

bool EmulatorControl::EnsureWorkingDirectory() {
    if (platform_.CurrentDirectory() + "\\" == control_dir) return true;
    if (control_dir.empty()) control_dir = platform_.DiscoverInstallDirectory();
    return platform_.MakeDirectoryCurrent(control_dir);
}

bool EmulatorControl::SetToolDirectory(const std::string& folder) {
    // A backslash that is the trail byte of a two-byte character does not end the folder.
    std::string with_separator = folder;
    const bool ends_in_separator =
        !folder.empty() && gbk::FindLast(folder, "\\") == static_cast<int>(folder.size());
    if (!ends_in_separator) with_separator += "\\";
    if (platform_.FileExists(with_separator + tool_file)) {
        control_dir = with_separator;
        platform_.MakeDirectoryCurrent(control_dir);
        return true;
    }
    control_dir.clear();
    return false;
}

int32_t EmulatorControl::FindHeadlessProcess(int32_t index) {
    return static_cast<int32_t>(FindHeadlessPid(platform_.Processes(), index));
}

std::string EmulatorControl::ListCommandReply() {
    EnsureWorkingDirectory();
    return platform_.Run(tool_file + " memuc listvms");
}

int EmulatorControl::ListVms(VmList& vms) {
    return CollectRecords(vms, /*windowed_only=*/false);
}

int EmulatorControl::ListWindowedVms(VmList& vms) {
    return CollectRecords(vms, /*windowed_only=*/true);
}

int EmulatorControl::CollectRecords(VmList& vms, bool windowed_only) {
    const std::vector<ListFields> lines = SplitListReply(ListCommandReply());
    // One process snapshot serves the whole listing, taken only when a listed VM runs.
    std::optional<HeadlessProcessIndex> headless;
    VmList found;
    for (const ListFields& fields : lines) {
        if (windowed_only) {
            if (fields.size() < 5 || ListedWindow(fields) < 1) continue;
        } else if (fields.size() != 5) {
            continue;
        }
        VmRecord record = RecordFromFields(fields);
        if (record.window >= 1) record.inner_window = platform_.WindowWalk(record.window);
        if (record.process_id != 0) {
            if (!headless) headless.emplace(platform_.Processes());
            record.headless_pid = static_cast<int32_t>(headless->Find(record.index));
        }
        found.Append(std::move(record));
        platform_.ResponsiveWaitOneMs();
    }
    vms = std::move(found);
    return vms.Count();
}

int32_t EmulatorControl::FirstWindowlessVm() {
    for (const ListFields& fields : SplitListReply(ListCommandReply())) {
        if (fields.size() < 3) continue;
        if (ListedWindow(fields) < 1) return gbk::ToInt(fields[0]);
        platform_.ResponsiveWaitOneMs();
    }
    return -1;
}

std::string EmulatorControl::RunCaptured(const std::string& line) {
    EnsureWorkingDirectory();
    return platform_.Run(line);
}

bool EmulatorControl::RunVmCommand(const std::string& line, std::optional<bool> wait,
                                   std::optional<int32_t> timeout_ms, const char* phrase) {
    EnsureWorkingDirectory();
    if (wait.value_or(false)) {
        return gbk::Contains(platform_.Run(line, timeout_ms.value_or(0)), phrase);
    }
    platform_.StartDetached(line);
    return false;
}

bool EmulatorControl::CreateVm(const std::string& type) {
    std::string trimmed = gbk::Trim(type);
    if (trimmed.empty()) trimmed = kDefaultVmType;
    return gbk::Contains(RunCaptured(tool_file + " create " + trimmed), kCreateFinished);
}

bool EmulatorControl::RemoveVm(int32_t index) {
    return gbk::Contains(RunCaptured(tool_file + " memuc remove -i " + Decimal(index)),
                         kDeleteFinished);
}

bool EmulatorControl::CloneVm(int32_t index) {
    return gbk::Contains(RunCaptured(tool_file + " memuc clone -i " + Decimal(index)),
                         kCloneFinished);
}

bool EmulatorControl::StartVm(int32_t index, std::optional<bool> wait,
                              std::optional<int32_t> timeout_ms) {
    return RunVmCommand(tool_file + " memuc start -i " + Decimal(index), wait, timeout_ms,
                        kStartFinished);
}

bool EmulatorControl::StopVm(int32_t index, std::optional<bool> wait,
                             std::optional<int32_t> timeout_ms) {
    return RunVmCommand(tool_file + " memuc stop -i " + Decimal(index), wait, timeout_ms,
                        kStopFinished);
}

void EmulatorControl::StopAllVms() {
    EnsureWorkingDirectory();
    platform_.StartDetached(tool_file + " memuc stopall");
}

bool EmulatorControl::RebootVm(int32_t index, std::optional<bool> wait,
                               std::optional<int32_t> timeout_ms) {
    return RunVmCommand(tool_file + " memuc reboot -i " + Decimal(index), wait, timeout_ms,
                        kRebootFinished);
}

bool EmulatorControl::IsVmRunning(int32_t index) {
    return !gbk::Contains(RunCaptured(tool_file + " memuc isvmrunning -i " + Decimal(index)),
                          kNotRunning);
}

void EmulatorControl::RenameVm(int32_t index, const std::string& title) {
    RunCaptured(tool_file + " memuc -i " + Decimal(index) + " rename \"" + title + "\"");
}

void EmulatorControl::InstallApp(int32_t index, const std::string& install_arg,
                                 const std::string& p_arg) {
    const std::string package = gbk::Trim(install_arg);
    const std::string prefix = tool_file + " memuc installapp -i " + Decimal(index);
    if (!package.empty()) {
        RunCaptured(prefix + " " + package);
    } else {
        RunCaptured(prefix + " -p " + gbk::Trim(p_arg));
    }
}

void EmulatorControl::UninstallApp(int32_t index, const std::string& app) {
    RunCaptured(tool_file + " memuc uninstallapp -i " + Decimal(index) + " " + app);
}

void EmulatorControl::StartApp(int32_t index, const std::string& app) {
    RunCaptured(tool_file + " memuc startapp -i " + Decimal(index) + " " + app);
}

void EmulatorControl::StopApp(int32_t index, const std::string& app) {
    RunCaptured(tool_file + " memuc stopapp -i " + Decimal(index) + " " + app);
}

void EmulatorControl::ShakeVm(int32_t index) {
    RunCaptured(tool_file + " memuc shake -i " + Decimal(index));
}

void EmulatorControl::SendKey(int32_t index, const std::string& key) {
    RunCaptured(tool_file + " memuc sendkey -i " + Decimal(index) + " " + gbk::Trim(key));
}

bool EmulatorControl::ConnectVm(int32_t index) {
    return gbk::Contains(RunCaptured(tool_file + " memuc connect -i " + Decimal(index)),
                         kConnectSuccess);
}

bool EmulatorControl::DisconnectVm(int32_t index) {
    return gbk::Contains(RunCaptured(tool_file + " memuc disconnect -i " + Decimal(index)),
                         kConnectSuccess);
}

std::string EmulatorControl::ExecInVm(int32_t index, const std::string& command) {
    return RunCaptured(tool_file + " memuc -i " + Decimal(index) + " execcmd \"" + command + "\"");
}

std::string EmulatorControl::AdbCommand(int32_t index, const std::string& command) {
    EnsureWorkingDirectory();
    return platform_.Run("adb.exe " + AdbTarget(index) + command);
}

void EmulatorControl::InputText(int32_t index, const std::string& text) {
    AdbCommand(index, "shell input text " + text);
}

void EmulatorControl::InputKeyEvent(int32_t index, int32_t keycode) {
    AdbCommand(index, "shell input keyevent " + Decimal(keycode));
}

void EmulatorControl::InputTap(int32_t index, int32_t x, int32_t y) {
    AdbCommand(index, "shell input tap " + Decimal(x) + " " + Decimal(y));
}

void EmulatorControl::InputSwipe(int32_t index, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    AdbCommand(index, "shell input swipe " + Decimal(x1) + " " + Decimal(y1) + " " + Decimal(x2) +
                          " " + Decimal(y2));
}

void EmulatorControl::ClearAppData(int32_t index, const std::string& app) {
    AdbCommand(index, "shell pm clear " + app);
}

// These three run in whatever folder is current: they do not assert the install folder.
bool EmulatorControl::SortWindows() {
    return SucceededOrStillWaiting(platform_.Run(tool_file + " sortwin"));
}

std::string EmulatorControl::GetConfig(int32_t index, const std::string& key) {
    return platform_.Run(tool_file + " getconfig -i " + Decimal(index) + " " + key);
}

bool EmulatorControl::SetConfig(int32_t index, const std::string& key, const std::string& value) {
    return SucceededOrStillWaiting(
        platform_.Run(tool_file + " setconfig -i " + Decimal(index) + " " + key + " " + value));
}

std::string EmulatorControl::Screenshot(int32_t index, const std::string& local_path) {
    const std::string name = "screenshot" + Decimal(platform_.TickCount()) + ".png";
    // The three steps always run, in this order, whatever the previous one printed.
    std::string log = AdbCommand(index, "shell /system/bin/screencap -p /sdcard/" + name);
    log += AdbCommand(index, "pull /sdcard/" + name + " " + local_path);
    log += AdbCommand(index, "shell rm /sdcard/" + name);
    return gbk::ReplaceAll(log, "\r\n", "  *  ");
}

std::string AdbTarget(int32_t index) {
    const int64_t port = kFirstAdbPort + int64_t{kAdbPortStep} * index;
    return "-s 127.0.0.1:" + Decimal(port) + " ";
}
