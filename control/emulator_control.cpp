#include "control/emulator_control.h"

#include <optional>

#include "control/list_reply.h"
#include "control/operations.h"
#include "text/gbk_text.h"

namespace {

using gbk::Decimal;

// The control object inserts its texts unchanged: its callers pass what the tool is to read.
std::string Line(Op op, const EmulatorControl& control, const OperationArgs& args) {
    return OperationLine(op, args, TextStyle::kAsGiven, control.tool_file);
}

std::string AdbArguments(Op op, const OperationArgs& args) {
    return OperationArguments(op, args, TextStyle::kAsGiven);
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
    return platform_.Run(Line(Op::kListVms, *this, {0, {}, {}}));
}

int EmulatorControl::ListVms(VmList& vms) {
    return CollectRecords(vms, /*windowed_only=*/false);
}

int EmulatorControl::ListWindowedVms(VmList& vms) {
    return CollectRecords(vms, /*windowed_only=*/true);
}

int EmulatorControl::CollectRecords(VmList& vms, bool windowed_only) {
    const std::vector<ListFields> lines = SplitListReply(ListCommandReply());
    ListedVmCompleter completer([this](int32_t window) { return platform_.WindowWalk(window); },
                                platform_.Processes());
    VmList found;
    for (const ListFields& fields : lines) {
        if (windowed_only) {
            if (fields.size() < 5 || ListedWindow(fields) < 1) continue;
        } else if (fields.size() != 5) {
            continue;
        }
        VmRecord record = RecordFromFields(fields);
        completer.Complete(record);
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

bool EmulatorControl::RunVmCommand(Op op, int32_t index, std::optional<bool> wait,
                                   std::optional<int32_t> timeout_ms) {
    const std::string line = Line(op, *this, {index, {}, {}});
    EnsureWorkingDirectory();
    if (wait.value_or(false)) return ReplySucceeds(op, platform_.Run(line, timeout_ms.value_or(0)));
    platform_.StartDetached(line);
    return false;
}

bool EmulatorControl::Judged(Op op, const OperationArgs& args) {
    return ReplySucceeds(op, RunCaptured(Line(op, *this, args)));
}

bool EmulatorControl::CreateVm(const std::string& type) {
    return Judged(Op::kCreateVm, {0, {}, {type}});
}

bool EmulatorControl::RemoveVm(int32_t index) {
    return Judged(Op::kRemoveVm, {index, {}, {}});
}

bool EmulatorControl::CloneVm(int32_t index) {
    return Judged(Op::kCloneVm, {index, {}, {}});
}

bool EmulatorControl::StartVm(int32_t index, std::optional<bool> wait,
                              std::optional<int32_t> timeout_ms) {
    return RunVmCommand(Op::kStartVm, index, wait, timeout_ms);
}

bool EmulatorControl::StopVm(int32_t index, std::optional<bool> wait,
                             std::optional<int32_t> timeout_ms) {
    return RunVmCommand(Op::kStopVm, index, wait, timeout_ms);
}

void EmulatorControl::StopAllVms() {
    EnsureWorkingDirectory();
    platform_.StartDetached(Line(Op::kStopAllVms, *this, {0, {}, {}}));
}

bool EmulatorControl::RebootVm(int32_t index, std::optional<bool> wait,
                               std::optional<int32_t> timeout_ms) {
    return RunVmCommand(Op::kRebootVm, index, wait, timeout_ms);
}

bool EmulatorControl::IsVmRunning(int32_t index) {
    return Judged(Op::kIsVmRunning, {index, {}, {}});
}

void EmulatorControl::RenameVm(int32_t index, const std::string& title) {
    RunCaptured(Line(Op::kRenameVm, *this, {index, {}, {title}}));
}

void EmulatorControl::InstallApp(int32_t index, const std::string& install_arg,
                                 const std::string& p_arg) {
    // A blank APK argument means the package argument is meant.
    const bool by_package = gbk::Trim(install_arg).empty();
    RunCaptured(
        Line(InstallOperation(by_package), *this, {index, {}, {by_package ? p_arg : install_arg}}));
}

void EmulatorControl::UninstallApp(int32_t index, const std::string& app) {
    RunCaptured(Line(Op::kUninstallApp, *this, {index, {}, {app}}));
}

void EmulatorControl::StartApp(int32_t index, const std::string& app) {
    RunCaptured(Line(Op::kStartApp, *this, {index, {}, {app}}));
}

void EmulatorControl::StopApp(int32_t index, const std::string& app) {
    RunCaptured(Line(Op::kStopApp, *this, {index, {}, {app}}));
}

void EmulatorControl::ShakeVm(int32_t index) {
    RunCaptured(Line(Op::kShakeVm, *this, {index, {}, {}}));
}

void EmulatorControl::SendKey(int32_t index, const std::string& key) {
    RunCaptured(Line(Op::kSendKey, *this, {index, {}, {key}}));
}

bool EmulatorControl::ConnectVm(int32_t index) {
    return Judged(Op::kConnectVm, {index, {}, {}});
}

bool EmulatorControl::DisconnectVm(int32_t index) {
    return Judged(Op::kDisconnectVm, {index, {}, {}});
}

std::string EmulatorControl::ExecInVm(int32_t index, const std::string& command) {
    return RunCaptured(Line(Op::kExecInVm, *this, {index, {}, {command}}));
}

std::string EmulatorControl::AdbCommand(int32_t index, const std::string& command) {
    EnsureWorkingDirectory();
    return platform_.Run(Line(Op::kAdbCommand, *this, {index, {}, {command}}));
}

void EmulatorControl::InputText(int32_t index, const std::string& text) {
    AdbCommand(index, AdbArguments(Op::kInputText, {index, {}, {text}}));
}

void EmulatorControl::InputKeyEvent(int32_t index, int32_t keycode) {
    AdbCommand(index, AdbArguments(Op::kInputKeyEvent, {index, {keycode}, {}}));
}

void EmulatorControl::InputTap(int32_t index, int32_t x, int32_t y) {
    AdbCommand(index, AdbArguments(Op::kInputTap, {index, {x, y}, {}}));
}

void EmulatorControl::InputSwipe(int32_t index, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    AdbCommand(index, AdbArguments(Op::kInputSwipe, {index, {x1, y1, x2, y2}, {}}));
}

void EmulatorControl::ClearAppData(int32_t index, const std::string& app) {
    AdbCommand(index, AdbArguments(Op::kClearAppData, {index, {}, {app}}));
}

// These three run in whatever folder is current: they do not assert the install folder.
bool EmulatorControl::SortWindows() {
    return ReplySucceeds(Op::kSortWindows,
                         platform_.Run(Line(Op::kSortWindows, *this, {0, {}, {}})));
}

std::string EmulatorControl::GetConfig(int32_t index, const std::string& key) {
    return platform_.Run(Line(Op::kGetConfig, *this, {index, {}, {key}}));
}

bool EmulatorControl::SetConfig(int32_t index, const std::string& key, const std::string& value) {
    return ReplySucceeds(Op::kSetConfig,
                         platform_.Run(Line(Op::kSetConfig, *this, {index, {}, {key, value}})));
}

std::string EmulatorControl::Screenshot(int32_t index, const std::string& local_path) {
    const std::string name = ScreenshotFileName(platform_.TickCount());
    std::string log;
    for (const OperationStep& step : ScreenshotSteps(index, name, local_path))
        log += AdbCommand(index, AdbArguments(step.op, step.args));
    return gbk::ReplaceAll(log, "\r\n", "  *  ");
}
