// Install-location discovery against the real registry, desktop and file system.
#pragma once

#include <string>

#include "install/discovery.h"

class WinDiscoveryPlatform : public DiscoveryPlatform {
public:
    std::string ReadMachineRegistryText(const std::string& key_path,
                                        const std::string& value_name) override;
    std::string DesktopFolder() override;
    bool FileExists(const std::string& path) override;
    std::string ShortcutTarget(const std::string& path) override;
};

// Runs discovery on this machine; the install folder with a trailing backslash, or empty.
std::string DiscoverInstallDirectory();

// True when a search for the path finds at least one file or folder.
bool FileExists(const std::string& path);
