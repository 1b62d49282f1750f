// Install-location discovery: the emulator's install folder from the uninstall entry in the
// registry, else from the first of three desktop shortcuts that exists, accepted only when
// "MEmu.exe" lies in it. Portable; the Win32 side supplies DiscoveryPlatform.
#pragma once

#include <string>

class DiscoveryPlatform {
public:
    virtual ~DiscoveryPlatform() = default;
    // HKEY_LOCAL_MACHINE value as text (REG_SZ as stored, REG_EXPAND_SZ expanded); empty when
    // missing or of another type.
    virtual std::string ReadMachineRegistryText(const std::string& key_path,
                                                const std::string& value_name) = 0;
    // The current user's desktop folder with a trailing backslash.
    virtual std::string DesktopFolder() = 0;
    virtual bool FileExists(const std::string& path) = 0;
    // Target path of a .lnk file; empty when it cannot be read.
    virtual std::string ShortcutTarget(const std::string& path) = 0;
};

// Returns the install folder ending in a backslash, or empty.
std::string DiscoverInstallDirectory(DiscoveryPlatform& platform);
