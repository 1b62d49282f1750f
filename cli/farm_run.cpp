#include "cli/farm_run.h"

#include <optional>

#include "cli/clone_job.h"
#include "cli/farm_report.h"
#include "cli/recording_platform.h"

namespace {

// What a control operation gave back: a result (true or false) for the operations that judge
// the tool's reply, a text for those that return one, neither for the others.
struct Outcome {
    std::optional<bool> result;
    std::optional<std::string> text;
};

std::optional<bool> WaitOption(const FarmRequest& request) {
    return request.wait ? std::optional<bool>(true) : std::nullopt;
}

std::optional<int32_t> TimeoutOption(const FarmRequest& request) {
    return request.timeout_ms;
}

// One control module operation per command, with the operation's own run mode and result.
Outcome RunOperation(const FarmRequest& r, EmulatorControl& control) {
    const int32_t i = r.index;
    const std::string text = r.texts.empty() ? std::string() : r.texts[0];
    switch (r.verb) {
        case Verb::kStart:
        case Verb::kStop:
        case Verb::kReboot: {
            bool ok = false;
            if (r.verb == Verb::kStart) ok = control.StartVm(i, WaitOption(r), TimeoutOption(r));
            if (r.verb == Verb::kStop) ok = control.StopVm(i, WaitOption(r), TimeoutOption(r));
            if (r.verb == Verb::kReboot) ok = control.RebootVm(i, WaitOption(r), TimeoutOption(r));
            // Started detached, the outcome is not observed.
            return r.wait ? Outcome{ok, {}} : Outcome{};
        }
        case Verb::kStopAll:
            control.StopAllVms();
            return {};
        case Verb::kRunning:
            return {control.IsVmRunning(i), {}};
        case Verb::kCreate:
            return {control.CreateVm(text), {}};
        case Verb::kRemove:
            return {control.RemoveVm(i), {}};
        case Verb::kCopy:
            return {control.CloneVm(i), {}};
        case Verb::kRename:
            control.RenameVm(i, text);
            return {};
        case Verb::kInstall:
            if (r.by_package) {
                control.InstallApp(i, "", text);
            } else {
                control.InstallApp(i, text, "");
            }
            return {};
        case Verb::kUninstall:
            control.UninstallApp(i, text);
            return {};
        case Verb::kStartApp:
            control.StartApp(i, text);
            return {};
        case Verb::kStopApp:
            control.StopApp(i, text);
            return {};
        case Verb::kShake:
            control.ShakeVm(i);
            return {};
        case Verb::kSendKey:
            control.SendKey(i, text);
            return {};
        case Verb::kConnect:
            return {control.ConnectVm(i), {}};
        case Verb::kDisconnect:
            return {control.DisconnectVm(i), {}};
        case Verb::kExec:
            return {{}, control.ExecInVm(i, text)};
        case Verb::kSortWin:
            return {control.SortWindows(), {}};
        case Verb::kGetConfig:
            return {{}, control.GetConfig(i, text)};
        case Verb::kSetConfig:
            return {control.SetConfig(i, r.texts.at(0), r.texts.at(1)), {}};
        case Verb::kAdb:
            return {{}, control.AdbCommand(i, text)};
        case Verb::kText:
            control.InputText(i, text);
            return {};
        case Verb::kKey:
            control.InputKeyEvent(i, r.numbers.at(0));
            return {};
        case Verb::kTap:
            control.InputTap(i, r.numbers.at(0), r.numbers.at(1));
            return {};
        case Verb::kSwipe:
            control.InputSwipe(i, r.numbers.at(0), r.numbers.at(1), r.numbers.at(2),
                               r.numbers.at(3));
            return {};
        case Verb::kClear:
            control.ClearAppData(i, text);
            return {};
        case Verb::kScreenshot:
            return {{}, control.Screenshot(i, text)};
        case Verb::kList:
        case Verb::kClone:
            break;
    }
    return {};
}

void PrintText(FarmConsole& console, const std::string& text) {
    if (text.empty()) return;
    console.Print(text);
    if (text.back() != '\n') console.Print("\r\n");
}

// The lines the operation ran, with their outputs.
Json StepsJson(FarmConsole& console, const std::vector<RecordingPlatform::Entry>& entries) {
    Json steps = Json::array();
    for (const RecordingPlatform::Entry& entry : entries) {
        Json step;
        step["command"] = JsonText(console, entry.command);
        step["output"] = JsonText(console, entry.output);
        if (entry.detached) step["detached"] = true;
        steps.push_back(std::move(step));
    }
    return steps;
}

int ControlCommand(const FarmRequest& r, FarmServices& s) {
    const Outcome outcome = RunOperation(r, s.control);
    const auto& entries = s.recorder.entries();
    const int code = outcome.result.value_or(true) ? kExitOk : kExitToolFailed;

    if (r.json) {
        Json document;
        document["ok"] = code == kExitOk;
        if (!entries.empty()) document["command"] = JsonText(s.console, entries.front().command);
        document["output"] = JsonText(s.console, outcome.text      ? *outcome.text
                                                 : entries.empty() ? std::string()
                                                                   : entries.front().output);
        if (r.verb == Verb::kRunning) document["running"] = *outcome.result;
        if (!entries.empty() && entries.front().detached) document["detached"] = true;
        if (entries.size() > 1) document["steps"] = StepsJson(s.console, entries);
        PrintJsonDocument(s.console, document);
        return code;
    }
    if (outcome.text) {
        PrintText(s.console, *outcome.text);
    } else {
        for (const RecordingPlatform::Entry& entry : entries) {
            if (entry.detached)
                s.console.Print("Started without waiting: " + entry.command + "\r\n");
            PrintText(s.console, entry.output);
        }
    }
    return code;
}

int ListCommand(const FarmRequest& r, FarmServices& s) {
    VmList vms;
    s.control.ListVms(vms);
    const std::string reply =
        s.recorder.entries().empty() ? std::string() : s.recorder.entries().back().output;
    // No VM in a reply that says something: the reply is the tool's complaint.
    const bool ok = !vms.Empty() || reply.empty();

    if (r.json) {
        Json document;
        document["ok"] = ok;
        Json list = Json::array();
        for (const VmRecord& vm : vms) list.push_back(VmJson(s.console, vm));
        document["vms"] = std::move(list);
        if (!ok) document["output"] = JsonText(s.console, reply);
        PrintJsonDocument(s.console, document);
    } else if (ok) {
        s.console.Print(VmTable(vms));
    } else {
        PrintText(s.console, reply);
    }
    return ok ? kExitOk : kExitToolFailed;
}

// The emulator's folder: the one given, which must hold memuc.exe, or the one discovery found.
std::optional<std::string> MissingInstallation(const FarmRequest& r, FarmServices& s) {
    if (r.install_dir) {
        if (s.control.SetToolDirectory(*r.install_dir)) return std::nullopt;
        return *r.install_dir + " holds no " + s.control.tool_file;
    }
    if (!s.control.control_dir.empty()) return std::nullopt;
    return "the emulator was not found (no install folder in the registry, no emulator shortcut "
           "on the desktop); name its folder with --install-dir DIR";
}

}  // namespace

int RunFarm(const FarmRequest& request, FarmServices& services) {
    if (std::optional<std::string> missing = MissingInstallation(request, services))
        return ReportFailure(services.console, request.json, "not_found", *missing, kExitNotFound);
    if (request.verb == Verb::kClone) return RunCloneJob(request, services);
    try {
        if (request.verb == Verb::kList) return ListCommand(request, services);
        return ControlCommand(request, services);
    } catch (const DeadlinePassed& passed) {
        const auto& entries = services.recorder.entries();
        if (!request.json)
            for (const RecordingPlatform::Entry& entry : entries)
                PrintText(services.console, entry.output);
        Json document;
        document["ok"] = false;
        if (!entries.empty()) document["steps"] = StepsJson(services.console, entries);
        return ReportDeadline(services.console, request.json, std::move(document), passed);
    }
}

int ReportUsageError(const std::string& message, bool json, FarmConsole& console) {
    return ReportFailure(console, json, "usage", message, kExitUsage);
}
