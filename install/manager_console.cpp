#include "install/manager_console.h"

namespace {

void WriteOne(const ConsoleBuildInfo& info, const std::string& target, ConsoleBuildStore& builds,
              FileReplacer& files, std::vector<std::string>& log) {
    const ConsoleBuild found = builds.Find(info);
    if (!found.bytes) {
        log.push_back(MissingBuildLine(found, info));
        return;
    }
    if (!files.ReplaceWhole(target, *found.bytes)) log.push_back(WriteFailedLine(info));
}

}  // namespace

std::string SideFileName(const ConsoleBuildInfo& info) {
    return std::string("MEmuConsole-") + info.version + ".exe";
}

std::string NotBundledLine(const ConsoleBuildInfo& info) {
    return std::string("本程序未包含版本") + info.version +
           "的多开管理器，MEmuConsole.exe 保持原样。\r\n";
}

std::string SideFileRefusedLine(const ConsoleBuildInfo& info) {
    return "程序旁的" + SideFileName(info) + "不是版本" + info.version +
           "的多开管理器（大小或校验值不符，或无法读取），MEmuConsole.exe 保持原样。\r\n";
}

std::string MissingBuildLine(const ConsoleBuild& found, const ConsoleBuildInfo& info) {
    return found.side_file_refused ? SideFileRefusedLine(info) : NotBundledLine(info);
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
