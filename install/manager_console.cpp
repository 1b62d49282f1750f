#include "install/manager_console.h"

namespace {

void WriteOne(const ConsoleBuildInfo& info, const std::string& target, ConsoleBuildStore& builds,
              FileReplacer& files, std::vector<std::string>& log) {
    std::optional<std::string_view> bytes = builds.Bytes(info);
    if (!bytes) {
        log.push_back(NotBundledLine(info));
        return;
    }
    if (!files.ReplaceWhole(target, *bytes)) log.push_back(WriteFailedLine(info));
}

}  // namespace

std::string NotBundledLine(const ConsoleBuildInfo& info) {
    return std::string("本程序未包含版本") + info.version +
           "的多开管理器，MEmuConsole.exe 保持原样。\r\n";
}

std::string WriteFailedLine(const ConsoleBuildInfo& info) {
    return std::string("写入版本") + info.version +
           "的多开管理器失败（文件被占用、只读或目录不存在），MEmuConsole.exe 保持原样。\r\n";
}

std::vector<std::string> WriteManagerConsole(ConsoleChoice choice, const std::string& install_dir,
                                             ConsoleBuildStore& builds, FileReplacer& files,
                                             const ConsoleBuildInfo& info_721,
                                             const ConsoleBuildInfo& info_722) {
    std::vector<std::string> log;
    // The target is formed anew for each write from the install directory as it is now.
    if (choice.build_721_checked)
        WriteOne(info_721, install_dir + kConsoleFileName, builds, files, log);
    if (choice.build_722_checked)
        WriteOne(info_722, install_dir + kConsoleFileName, builds, files, log);
    return log;
}
