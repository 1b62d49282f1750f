#include "cloning/clone_commands.h"

#include "text/gbk_text.h"

namespace {

constexpr const char* kMasterPlaceholder = "【母盘】";
constexpr const char* kNumberPlaceholder = "【编号】";

constexpr const char* kSnapshotTemplate = "MEmuManage.exe snapshot 【母盘】 take \"SnapshotTest\"";
constexpr const char* kCloneTemplate =
    "MEmuManage.exe clonevm 【母盘】 --name=\"MEmu_【编号】\" --register "
    "--snapshot=\"SnapshotTest\" --options=Link --options=keepdisknames "
    "--uuid={20200716-dddd-dddd-dddd-000000000【编号】}";

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

std::string CloneCommand(const std::string& master, const std::string& clone_number) {
    std::string line = gbk::ReplaceAll(kCloneTemplate, kMasterPlaceholder, master);
    return gbk::ReplaceAll(line, kNumberPlaceholder, clone_number);
}
