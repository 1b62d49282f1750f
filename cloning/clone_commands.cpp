#include "cloning/clone_commands.h"

#include "text/gbk_text.h"

namespace {

constexpr const char* kMasterPlaceholder = "【母盘】";
constexpr const char* kNumberPlaceholder = "【编号】";
constexpr const char* kUuidGroupPlaceholder = "【uuid】";
constexpr const char* kWindowUuidGroupPrefix = "000000000";
constexpr size_t kUuidGroupDigits = 12;

constexpr const char* kSnapshotTemplate = "MEmuManage.exe snapshot 【母盘】 take \"SnapshotTest\"";
constexpr const char* kCloneTemplate =
    "MEmuManage.exe clonevm 【母盘】 --name=\"MEmu_【编号】\" --register "
    "--snapshot=\"SnapshotTest\" --options=Link --options=keepdisknames "
    "--uuid={20200716-dddd-dddd-dddd-【uuid】}";

}  // namespace

std::string MasterName(int32_t vm_index) {
    return vm_index == 0 ? std::string("MEmu") : "MEmu_" + gbk::Decimal(vm_index);
}

std::string CloneNumber(int64_t i) {
    return gbk::Decimal(i + 100);
}

std::string ToolsDirectoryFor(const std::string& install_dir) {
    return gbk::TextBefore(install_dir, "MEmu") + "MEmuHyperv\\";
}

std::string SnapshotCommand(const std::string& master) {
    return gbk::ReplaceAll(kSnapshotTemplate, kMasterPlaceholder, master);
}

std::string CloneNumberAt(const CloneNumbering& numbering, int64_t i) {
    return gbk::Decimal(numbering.first + i - 1);
}

std::string CloneCommand(const std::string& master, const std::string& clone_number) {
    return CloneCommand(master, clone_number, /*pad_uuid=*/false);
}

std::string CloneCommand(const std::string& master, const std::string& clone_number,
                         bool pad_uuid) {
    std::string uuid_group = kWindowUuidGroupPrefix + clone_number;
    if (pad_uuid && clone_number.size() <= kUuidGroupDigits)
        uuid_group = std::string(kUuidGroupDigits - clone_number.size(), '0') + clone_number;
    std::string line = gbk::ReplaceAll(kCloneTemplate, kMasterPlaceholder, master);
    line = gbk::ReplaceAll(line, kNumberPlaceholder, clone_number);
    return gbk::ReplaceAll(line, kUuidGroupPlaceholder, uuid_group);
}
