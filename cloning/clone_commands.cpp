#include "cloning/clone_commands.h"

#include "text/gbk_text.h"

namespace {

constexpr const char* kMasterPlaceholder = "【母盘】";
constexpr const char* kNumberPlaceholder = "【编号】";
constexpr const char* kSnapshotPlaceholder = "【快照】";
constexpr const char* kUuidGroupPlaceholder = "【uuid】";
constexpr const char* kWindowUuidGroupPrefix = "000000000";
constexpr size_t kUuidGroupDigits = 12;

// What follows the tool's name in each line, from the blank after it.
constexpr const char* kSnapshotTemplate = " snapshot 【母盘】 take \"SnapshotTest\"";
constexpr const char* kCloneTemplate =
    " clonevm 【母盘】 --name=\"MEmu_【编号】\" --register "
    "--snapshot=\"【快照】\" --options=Link --options=keepdisknames "
    "--uuid={20200716-dddd-dddd-dddd-【uuid】}";

constexpr const char* kUuidMarker = "Snapshot taken. UUID: ";

bool IsUuidCharacter(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == '-' ||
           c == '{' || c == '}';
}

}  // namespace

std::string MasterName(int32_t vm_index) {
    return vm_index == 0 ? std::string("MEmu") : "MEmu_" + gbk::Decimal(vm_index);
}

std::string CloneNumber(int64_t i) {
    return gbk::Decimal(i + 100);
}

bool CloneNumbersFit(int64_t first, int64_t count) {
    return first >= 1 && first <= kLastCloneNumber && count >= 0 &&
           count - 1 <= kLastCloneNumber - first;
}

std::string ToolsDirectoryFor(const std::string& install_dir) {
    return gbk::TextBefore(install_dir, "MEmu") + "MEmuHyperv\\";
}

std::string ToolsFolderBeside(const std::string& install_dir) {
    const std::string before = gbk::TextBefore(install_dir, "MEmu", 1, /*ignore_case=*/true);
    if (!before.empty()) return before + "MEmuHyperv\\";
    const std::string parent = gbk::FolderOf(install_dir.substr(0, install_dir.size() - 1));
    return (parent.empty() ? install_dir : parent) + "MEmuHyperv\\";
}

ToolLine SnapshotStep(const std::string& master) {
    return {kManageFile, gbk::ReplaceAll(kSnapshotTemplate, kMasterPlaceholder, master)};
}

std::string SnapshotCommand(const std::string& master) {
    return SnapshotStep(master).Text();
}

std::string CloneNumberAt(const CloneNumbering& numbering, int64_t i) {
    return gbk::Decimal(numbering.first + i - 1);
}

std::string CloneCommand(const std::string& master, const std::string& clone_number) {
    return CloneCommand(master, clone_number, /*pad_uuid=*/false);
}

std::string CloneCommand(const std::string& master, const std::string& clone_number, bool pad_uuid,
                         std::string_view snapshot) {
    return CloneStep(master, clone_number, pad_uuid, snapshot).Text();
}

ToolLine CloneStep(const std::string& master, const std::string& clone_number, bool pad_uuid,
                   std::string_view snapshot) {
    std::string uuid_group = kWindowUuidGroupPrefix + clone_number;
    if (pad_uuid && clone_number.size() <= kUuidGroupDigits)
        uuid_group = std::string(kUuidGroupDigits - clone_number.size(), '0') + clone_number;
    std::string line = gbk::ReplaceAll(kCloneTemplate, kMasterPlaceholder, master);
    line = gbk::ReplaceAll(line, kSnapshotPlaceholder, snapshot);
    line = gbk::ReplaceAll(line, kNumberPlaceholder, clone_number);
    return {kManageFile, gbk::ReplaceAll(line, kUuidGroupPlaceholder, uuid_group)};
}

std::optional<std::string> SnapshotUuidOf(std::string_view reply) {
    const int at = gbk::Find(reply, kUuidMarker);
    if (at == -1) return std::nullopt;
    size_t begin = static_cast<size_t>(at - 1) + std::string_view(kUuidMarker).size();
    size_t end = begin;
    while (end < reply.size() && IsUuidCharacter(reply[end])) ++end;
    // Braces are the reply's way of writing it, not part of the UUID.
    if (end > begin && reply[begin] == '{') ++begin;
    if (end > begin && reply[end - 1] == '}') --end;
    std::string uuid(reply.substr(begin, end - begin));
    // 8-4-4-4-12 hexadecimal digits.
    if (uuid.size() != 36 || uuid[8] != '-' || uuid[13] != '-' || uuid[18] != '-' ||
        uuid[23] != '-')
        return std::nullopt;
    for (char c : uuid)
        if (c == '{' || c == '}') return std::nullopt;
    return uuid;
}
