#include "control/operations.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "control/command_line_args.h"
#include "text/gbk_text.h"

namespace {

constexpr Slot kIndex{"INDEX", SlotKind::kIndex};
constexpr Slot kPackage{"PACKAGE", SlotKind::kPackage};
constexpr Slot kDeviceFile{"NAME", SlotKind::kDeviceFile};

constexpr const char* kSuccess = "SUCCESS";

using R = RunMode;
using Rule = ResultRule;

// clang-format off
const std::vector<OperationRow> kOperations = {
    {Op::kListVms, Tool::kMemuc, " memuc listvms", {}, R::kCaptured, Rule::kOutput, nullptr},
    {Op::kCreateVm, Tool::kMemuc, " create {TYPE}",
     {{{"TYPE", SlotKind::kText, /*trimmed=*/true, /*if_empty=*/"51"}}},
     R::kCaptured, Rule::kPhrase, "create vm finished.index"},
    {Op::kRemoveVm, Tool::kMemuc, " memuc remove -i {INDEX}", {kIndex},
     R::kCaptured, Rule::kPhrase, "SUCCESS: delete vm finished."},
    {Op::kCloneVm, Tool::kMemuc, " memuc clone -i {INDEX}", {kIndex},
     R::kCaptured, Rule::kPhrase, "SUCCESS: clone vm finished."},
    {Op::kStartVm, Tool::kMemuc, " memuc start -i {INDEX}", {kIndex},
     R::kDetachedUnlessWait, Rule::kPhrase, "SUCCESS: start vm finished."},
    {Op::kStopVm, Tool::kMemuc, " memuc stop -i {INDEX}", {kIndex},
     R::kDetachedUnlessWait, Rule::kPhrase, "SUCCESS: stop vm finished."},
    {Op::kStopAllVms, Tool::kMemuc, " memuc stopall", {}, R::kDetached, Rule::kNone, nullptr},
    {Op::kRebootVm, Tool::kMemuc, " memuc reboot -i {INDEX}", {kIndex},
     R::kDetachedUnlessWait, Rule::kPhrase, "SUCCESS: reboot android finished."},
    {Op::kIsVmRunning, Tool::kMemuc, " memuc isvmrunning -i {INDEX}", {kIndex},
     R::kCaptured, Rule::kPhraseAbsent, "Not Running"},
    {Op::kRenameVm, Tool::kMemuc, " memuc -i {INDEX} rename \"{TITLE}\"",
     {kIndex, {"TITLE", SlotKind::kName}}, R::kCaptured, Rule::kNone, nullptr},
    {Op::kInstallApk, Tool::kMemuc, " memuc installapp -i {INDEX} {APK}",
     {kIndex, {"APK", SlotKind::kLocalPath, /*trimmed=*/true}},
     R::kCaptured, Rule::kNone, nullptr},
    {Op::kInstallPackage, Tool::kMemuc, " memuc installapp -i {INDEX} -p {PACKAGE}",
     {kIndex, {"PACKAGE", SlotKind::kPackage, /*trimmed=*/true}},
     R::kCaptured, Rule::kNone, nullptr},
    {Op::kUninstallApp, Tool::kMemuc, " memuc uninstallapp -i {INDEX} {PACKAGE}",
     {kIndex, kPackage}, R::kCaptured, Rule::kNone, nullptr},
    {Op::kStartApp, Tool::kMemuc, " memuc startapp -i {INDEX} {PACKAGE}",
     {kIndex, {"PACKAGE", SlotKind::kComponent}}, R::kCaptured, Rule::kNone, nullptr},
    {Op::kStopApp, Tool::kMemuc, " memuc stopapp -i {INDEX} {PACKAGE}", {kIndex, kPackage},
     R::kCaptured, Rule::kNone, nullptr},
    {Op::kShakeVm, Tool::kMemuc, " memuc shake -i {INDEX}", {kIndex},
     R::kCaptured, Rule::kNone, nullptr},
    {Op::kSendKey, Tool::kMemuc, " memuc sendkey -i {INDEX} {KEY}",
     {kIndex, {"KEY", SlotKind::kName, /*trimmed=*/true}}, R::kCaptured, Rule::kNone, nullptr},
    {Op::kConnectVm, Tool::kMemuc, " memuc connect -i {INDEX}", {kIndex},
     R::kCaptured, Rule::kPhrase, "SUCCESS: "},
    {Op::kDisconnectVm, Tool::kMemuc, " memuc disconnect -i {INDEX}", {kIndex},
     R::kCaptured, Rule::kPhrase, "SUCCESS: "},
    {Op::kExecInVm, Tool::kMemuc, " memuc -i {INDEX} execcmd \"{COMMAND}\"",
     {kIndex, {"COMMAND", SlotKind::kText}}, R::kCaptured, Rule::kOutput, nullptr},
    {Op::kSortWindows, Tool::kMemuc, " sortwin", {}, R::kCaptured, Rule::kSuccessOrWaiting,
     nullptr},
    {Op::kGetConfig, Tool::kMemuc, " getconfig -i {INDEX} {KEY}",
     {kIndex, {"KEY", SlotKind::kName}}, R::kCaptured, Rule::kOutput, nullptr},
    {Op::kSetConfig, Tool::kMemuc, " setconfig -i {INDEX} {KEY} {VALUE}",
     {kIndex, {"KEY", SlotKind::kName}, {"VALUE", SlotKind::kName}},
     R::kCaptured, Rule::kSuccessOrWaiting, nullptr},
    {Op::kRandomizeVm, Tool::kMemuc, " memuc randomize -i {INDEX}", {kIndex},
     R::kCaptured, Rule::kPhrase, kSuccess},
    {Op::kTypeText, Tool::kMemuc, " memuc input -i {INDEX} \"{TEXT}\"",
     {kIndex, {"TEXT", SlotKind::kText}}, R::kCaptured, Rule::kPhrase, kSuccess},
    {Op::kSetGps, Tool::kMemuc, " memuc setgps -i {INDEX} {LONGITUDE} {LATITUDE}",
     {kIndex, {"LONGITUDE", SlotKind::kLongitude}, {"LATITUDE", SlotKind::kLatitude}},
     R::kCaptured, Rule::kPhrase, kSuccess},
    {Op::kRotateVm, Tool::kMemuc, " memuc rotate -i {INDEX}", {kIndex},
     R::kCaptured, Rule::kPhrase, kSuccess},
    {Op::kListApps, Tool::kMemuc, " memuc getappinfolist -i {INDEX}", {kIndex},
     R::kCaptured, Rule::kOutput, nullptr},
    {Op::kExportVm, Tool::kMemuc, " memuc export -i {INDEX} {FILE}",
     {kIndex, {"FILE", SlotKind::kLocalPath}}, R::kCaptured, Rule::kPhrase, kSuccess},
    {Op::kImportVm, Tool::kMemuc, " memuc import {FILE}", {{{"FILE", SlotKind::kLocalPath}}},
     R::kCaptured, Rule::kPhrase, kSuccess},

    {Op::kAdbCommand, Tool::kAdb, "{ARGS}", {kIndex, {"ARGS", SlotKind::kArgs}},
     R::kCaptured, Rule::kOutput, nullptr},
    {Op::kInputText, Tool::kAdb, "shell input text {TEXT}",
     {kIndex, {"TEXT", SlotKind::kDeviceText}}, R::kCaptured, Rule::kNone, nullptr, DeviceService::kShell, /*via_server=*/true},
    {Op::kInputKeyEvent, Tool::kAdb, "shell input keyevent {CODE}",
     {kIndex, {"CODE", SlotKind::kInt}}, R::kCaptured, Rule::kNone, nullptr, DeviceService::kShell, /*via_server=*/true},
    {Op::kInputTap, Tool::kAdb, "shell input tap {X} {Y}",
     {kIndex, {"X", SlotKind::kInt}, {"Y", SlotKind::kInt}}, R::kCaptured, Rule::kNone, nullptr, DeviceService::kShell, /*via_server=*/true},
    {Op::kInputSwipe, Tool::kAdb, "shell input swipe {X1} {Y1} {X2} {Y2}",
     {kIndex, {"X1", SlotKind::kInt}, {"Y1", SlotKind::kInt}, {"X2", SlotKind::kInt},
      {"Y2", SlotKind::kInt}},
     R::kCaptured, Rule::kNone, nullptr, DeviceService::kShell, /*via_server=*/true},
    // The device's package manager answers "Success" (or "Failed").
    {Op::kClearAppData, Tool::kAdb, "shell pm clear {PACKAGE}", {kIndex, kPackage},
     R::kCaptured, Rule::kPhrase, "Success", DeviceService::kShell, /*via_server=*/true},
    {Op::kScreenCapture, Tool::kAdb, "shell /system/bin/screencap -p /sdcard/{NAME}",
     {kIndex, kDeviceFile}, R::kCaptured, Rule::kNone, nullptr, DeviceService::kShell},
    {Op::kPullFile, Tool::kAdb, "pull /sdcard/{NAME} {FILE}",
     {kIndex, kDeviceFile, {"FILE", SlotKind::kLocalPath}}, R::kCaptured, Rule::kNone, nullptr},
    {Op::kRemoveDeviceFile, Tool::kAdb, "shell rm /sdcard/{NAME}", {kIndex, kDeviceFile},
     R::kCaptured, Rule::kNone, nullptr, DeviceService::kShell},
    {Op::kScreenStream, Tool::kAdb, "exec-out screencap -p", {kIndex}, R::kCaptured, Rule::kNone,
     nullptr, DeviceService::kExec, /*via_server=*/true},
    {Op::kBootCompleted, Tool::kAdb, "shell getprop sys.boot_completed", {kIndex},
     R::kCaptured, Rule::kOutput, nullptr, DeviceService::kShell, /*via_server=*/true},
};
// clang-format on

bool IsTextKind(SlotKind kind) {
    return kind != SlotKind::kIndex && kind != SlotKind::kInt;
}

std::vector<Slot> SlotsOf(const OperationRow& operation) {
    std::vector<Slot> slots;
    for (const Slot& slot : operation.slots)
        if (slot.name) slots.push_back(slot);
    return slots;
}

std::string TextFor(const Slot& slot, std::string text, TextStyle style, bool inside_quotes) {
    if (style == TextStyle::kAsGiven) {
        if (slot.trimmed) text = gbk::Trim(text);
        if (text.empty() && slot.if_empty) text = slot.if_empty;
        return text;
    }
    if (slot.kind == SlotKind::kDeviceText) text = DeviceTextWord(text);
    if (style == TextStyle::kDeviceLine) return text;
    return inside_quotes ? cmdline::EscapeInsideQuotes(text) : cmdline::QuoteArgument(text);
}

// The text each slot puts into the line, by slot name.
struct SlotValue {
    const char* name;
    std::string text;  // for texts: the raw text, formatted where the pattern places it
    bool is_text;
    const Slot* slot;
};

std::vector<SlotValue> ValuesOf(const std::vector<Slot>& slots, const OperationArgs& args,
                                TextStyle style) {
    std::vector<SlotValue> values;
    size_t next_number = 0;
    size_t next_text = 0;
    for (const Slot& slot : slots) {
        if (slot.kind == SlotKind::kIndex) {
            values.push_back({slot.name, gbk::Decimal(args.index), false, &slot});
        } else if (slot.kind == SlotKind::kInt) {
            const int32_t n = next_number < args.numbers.size() ? args.numbers[next_number] : 0;
            ++next_number;
            values.push_back({slot.name, gbk::Decimal(n), false, &slot});
        } else if (slot.kind == SlotKind::kArgs) {
            std::string joined;
            for (; next_text < args.texts.size(); ++next_text) {
                if (!joined.empty()) joined += ' ';
                joined += style != TextStyle::kOneArgumentEach
                              ? args.texts[next_text]
                              : cmdline::QuoteArgument(args.texts[next_text]);
            }
            values.push_back({slot.name, joined, false, &slot});
        } else {
            std::string text = next_text < args.texts.size() ? args.texts[next_text] : "";
            ++next_text;
            values.push_back({slot.name, std::move(text), true, &slot});
        }
    }
    return values;
}

// The pattern with every placeholder replaced.
std::string Expand(const OperationRow& operation, const OperationArgs& args, TextStyle style) {
    const std::vector<Slot> slots = SlotsOf(operation);
    const std::vector<SlotValue> values = ValuesOf(slots, args, style);
    const std::string_view pattern = operation.pattern;
    std::string line;
    bool inside_quotes = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '"') inside_quotes = !inside_quotes;
        if (c != '{') {
            line += c;
            continue;
        }
        const size_t close = pattern.find('}', i);
        const std::string_view name = pattern.substr(i + 1, close - i - 1);
        for (const SlotValue& value : values) {
            if (name != value.name) continue;
            line +=
                value.is_text ? TextFor(*value.slot, value.text, style, inside_quotes) : value.text;
        }
        i = close;
    }
    return line;
}

bool IsAsciiLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsJavaNameChar(char c, bool dollar_allowed) {
    return IsAsciiLetterOrDigit(c) || c == '_' || c == '.' || (dollar_allowed && c == '$');
}

std::optional<std::string> JavaNameProblem(std::string_view text, bool component) {
    const size_t slash = component ? text.find('/') : std::string_view::npos;
    const std::string_view package = text.substr(0, slash);
    const bool package_ok =
        !package.empty() && std::all_of(package.begin(), package.end(),
                                        [](char c) { return IsJavaNameChar(c, false); });
    if (!package_ok)
        return component ? std::string(
                               "is not an Android package or package/activity name "
                               "(letters, digits, '_', '.', and one '/' before an "
                               "activity that may hold '$')")
                         : std::string(
                               "is not an Android package name (letters, digits, '_' "
                               "and '.')");
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view activity = text.substr(slash + 1);
    const bool activity_ok =
        !activity.empty() && std::all_of(activity.begin(), activity.end(),
                                         [](char c) { return IsJavaNameChar(c, true); });
    if (!activity_ok)
        return std::string("has no valid activity after '/' (letters, digits, '_', '.', '$')");
    return std::nullopt;
}

std::string ControlCharacterName(unsigned char c) {
    switch (c) {
        case '\t':
            return "TAB";
        case '\r':
            return "CR";
        case '\n':
            return "LF";
        default: {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", c);
            return hex;
        }
    }
}

std::optional<std::string> ControlCharacterProblem(std::string_view text) {
    for (size_t i = 0; i < text.size(); i += cmdline::CharWidth936(text, i)) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (cmdline::CharWidth936(text, i) == 1 && (c < 0x20 || c == 0x7F))
            return "holds a control character (" + ControlCharacterName(c) + ")";
    }
    return std::nullopt;
}

// "-12.5", "3", "0.25": an optional minus, digits, and an optional fraction.
std::optional<double> DecimalValue(std::string_view text) {
    size_t i = text.empty() || text[0] != '-' ? 0 : 1;
    const size_t digits_start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == digits_start || i - digits_start > 9) return std::nullopt;
    if (i < text.size() && text[i] == '.') {
        const size_t fraction_start = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        if (i == fraction_start || i - fraction_start > 15) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    return std::strtod(std::string(text).c_str(), nullptr);
}

std::optional<std::string> DeviceTextProblem(std::string_view text) {
    for (size_t i = 0; i < text.size(); i += cmdline::CharWidth936(text, i)) {
        const size_t width = cmdline::CharWidth936(text, i);
        const auto c = static_cast<unsigned char>(text[i]);
        if (width == 2 || c < 0x20 || c > 0x7E) {
            const std::string shown = width == 2 || c >= 0x80 ? std::string(text.substr(i, width))
                                                              : ControlCharacterName(c);
            return "holds " + shown +
                   ", which the device's input text cannot type (it types printable ASCII "
                   "only; the input command types any text)";
        }
    }
    if (text.find("%s") != std::string_view::npos)
        return std::string("holds %s, which the device's input text types as a blank");
    return std::nullopt;
}

}  // namespace

const std::vector<OperationRow>& AllOperations() {
    return kOperations;
}

const OperationRow& RowOf(Op op) {
    for (const OperationRow& operation : kOperations)
        if (operation.op == op) return operation;
    return kOperations.front();  // every Op has a row (checked by the tests)
}

std::string OperationArguments(Op op, const OperationArgs& args, TextStyle style) {
    return Expand(RowOf(op), args, style);
}

std::string_view ServiceWord(DeviceService service) {
    switch (service) {
        case DeviceService::kShell:
            return "shell";
        case DeviceService::kExec:
            return "exec-out";
        case DeviceService::kNone:
            break;
    }
    return {};
}

std::string DeviceCommand(Op op, const OperationArgs& args) {
    OperationRow device = RowOf(op);
    const std::string_view word = ServiceWord(device.service);
    // Every such pattern begins with its word and a blank (checked by the tests).
    device.pattern += word.empty() ? 0 : word.size() + 1;
    return Expand(device, args, TextStyle::kDeviceLine);
}

const char* OperationProgram(Op op) {
    return RowOf(op).tool == Tool::kAdb ? kAdbFile : kMemucFile;
}

std::string OperationToolArguments(Op op, const OperationArgs& args, TextStyle style) {
    const OperationRow& operation = RowOf(op);
    std::string arguments;
    if (operation.tool == Tool::kAdb) arguments = ' ' + AdbTarget(args.index);
    arguments += Expand(operation, args, style);
    return arguments;
}

std::string OperationLine(Op op, const OperationArgs& args, TextStyle style,
                          std::string_view memuc_file) {
    const std::string program = RowOf(op).tool == Tool::kAdb ? kAdbFile : std::string(memuc_file);
    return program + OperationToolArguments(op, args, style);
}

bool ReplySucceeds(Op op, std::string_view reply) {
    const OperationRow& operation = RowOf(op);
    switch (operation.rule) {
        case ResultRule::kPhrase:
            return gbk::Contains(reply, operation.phrase);
        case ResultRule::kPhraseAbsent:
            return !gbk::Contains(reply, operation.phrase);
        case ResultRule::kSuccessOrWaiting:
            return gbk::Contains(reply, kSuccess) || gbk::Contains(reply, "wait for 30000");
        case ResultRule::kNone:
        case ResultRule::kOutput:
            break;
    }
    return true;
}

std::string ScreenshotFileName(int32_t tick) {
    return "screenshot" + gbk::Decimal(tick) + ".png";
}

std::array<OperationStep, 3> ScreenshotSteps(int32_t index, const std::string& name,
                                             const std::string& local_path) {
    return {OperationStep{Op::kScreenCapture, {index, {}, {name}}},
            OperationStep{Op::kPullFile, {index, {}, {name, local_path}}},
            OperationStep{Op::kRemoveDeviceFile, {index, {}, {name}}}};
}

bool SaysBooted(std::string_view reply) {
    // adb.exe ends the line with CR LF, the server's shell stream with LF alone.
    return gbk::Trim(gbk::ReplaceAll(gbk::ReplaceAll(reply, "\r", ""), "\n", "")) == "1";
}

int64_t AdbPort(int32_t index) {
    return kFirstAdbPort + int64_t{kAdbPortStep} * index;
}

std::string AdbSerial(int32_t index) {
    return "127.0.0.1:" + gbk::Decimal(AdbPort(index));
}

std::string AdbTarget(int32_t index) {
    return "-s " + AdbSerial(index) + " ";
}

std::optional<std::string> TextProblem(const Slot& slot, std::string_view given) {
    if (!IsTextKind(slot.kind) || slot.kind == SlotKind::kArgs) return std::nullopt;
    const std::string text(given);
    if (text.empty()) return std::string("is empty");
    // No file name and no default is only blanks.
    const bool blank_is_nothing = slot.if_empty || slot.kind == SlotKind::kLocalPath;
    if (blank_is_nothing && gbk::Trim(text).empty()) return std::string("is blank");
    switch (slot.kind) {
        case SlotKind::kName:
            return ControlCharacterProblem(text);
        case SlotKind::kPackage:
            return JavaNameProblem(text, /*component=*/false);
        case SlotKind::kComponent:
            return JavaNameProblem(text, /*component=*/true);
        case SlotKind::kDeviceText:
            return DeviceTextProblem(text);
        case SlotKind::kLongitude:
        case SlotKind::kLatitude: {
            const double limit = slot.kind == SlotKind::kLongitude ? 180 : 90;
            const std::optional<double> value = DecimalValue(text);
            if (!value || *value < -limit || *value > limit)
                return "is not a decimal number from -" + gbk::Decimal(int64_t(limit)) + " to " +
                       gbk::Decimal(int64_t(limit));
            return std::nullopt;
        }
        default:
            return std::nullopt;
    }
}

std::string DeviceTextWord(std::string_view text) {
    std::string word = "'";
    for (char c : text) {
        if (c == '\'') {
            word += "'\\''";
        } else if (c == ' ') {
            word += "%s";
        } else {
            word += c;
        }
    }
    return word + "'";
}
