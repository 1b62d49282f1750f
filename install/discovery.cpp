#include "install/discovery.h"

#include "text/gbk_text.h"

namespace {

// Key path and value name in one text, split at the last backslash.
constexpr const char kUninstallEntry[] =
    "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\MEmu\\InstallLocation";

// Appended to the registry value as it stands (no separator is removed or added).
constexpr const char kInstallSubfolder[] = "\\MEmu\\";

// Desktop shortcuts, in the order they are tried; the first that exists decides.
constexpr const char* kShortcutNames[] = {"逍遥安卓多开管理器.lnk", "逍遥安卓模拟器.lnk",
                                          "逍遥模拟器.lnk"};

constexpr const char kMarkerFile[] = "MEmu.exe";

std::string CandidateFromShortcuts(DiscoveryPlatform& platform) {
    const std::string desktop = platform.DesktopFolder();
    // Without a desktop folder the names would be looked up in the current directory.
    if (desktop.empty()) return {};
    for (const char* name : kShortcutNames) {
        const std::string path = desktop + name;
        if (platform.FileExists(path)) return gbk::FolderOf(platform.ShortcutTarget(path));
    }
    return {};
}

}  // namespace

std::string DiscoverInstallDirectory(DiscoveryPlatform& platform) {
    const std::string entry = kUninstallEntry;
    const int split = gbk::FindLast(entry, "\\");
    const std::string key_path = entry.substr(0, static_cast<size_t>(split - 1));
    const std::string value_name = entry.substr(static_cast<size_t>(split));

    const std::string location = platform.ReadMachineRegistryText(key_path, value_name);
    const std::string candidate =
        location.empty() ? CandidateFromShortcuts(platform) : location + kInstallSubfolder;

    // An empty candidate would test "MEmu.exe" relative to the current directory.
    if (candidate.empty()) return {};
    return platform.FileExists(candidate + kMarkerFile) ? candidate : std::string();
}
