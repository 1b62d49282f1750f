// The two manager console builds the program writes over "MEmuConsole.exe". They are the
// emulator maker's program: the repository does not ship them. A build is bundled only when a
// file with exactly this size and SHA-256 was supplied at build time, and its bytes are checked
// again before they are written.
#pragma once

#include <cstdint>

struct ConsoleBuildInfo {
    const char* version;     // "7.2.1"
    const char* resource;    // resource name of the bundled bytes
    uint64_t size;           // bytes
    const char* sha256_hex;  // lower-case hex digest
};

inline constexpr ConsoleBuildInfo kConsoleBuild721{
    "7.2.1", "CONSOLE_7_2_1", 1575424,
    "1a9723589abb3d5aafa54301dde7cba61d6f0d63e298e3f74f6cbd1a8872f78f"};
inline constexpr ConsoleBuildInfo kConsoleBuild722{
    "7.2.2", "CONSOLE_7_2_2", 1575936,
    "1da3364fefc2420fa47139029818c2b033957b5e9b1bc8b8adec007893ecb394"};

// File name written into the install directory.
inline constexpr const char* kConsoleFileName = "MEmuConsole.exe";
