// The simulated devices behind both ways of reaching them: an adb.exe call (adb_main.cpp) and
// a request to the simulated adb server (adb_server.cpp). VM n listens at 127.0.0.1:21503 + 10n
// while it runs; it boots for a while after its start, and its shell understands the few
// commands the program sends (see sim/README.md).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_common.h"

namespace sim {

// What a device command printed and its exit code.
struct Result {
    std::string text;
    int code = 0;
};
Result Failure(const std::string& text);

// The device a call reaches.
struct Device {
    int index = -1;
    bool running = false;
    uint64_t started_at = 0;
};

// Index of the VM listening on "127.0.0.1:<port>", -1 for any other target.
int IndexOfTarget(const std::string& target);
Device FindDevice(const std::string& root, int index);
// Whether the running device's boot time has passed since its start.
bool Booted(const Device& device, uint32_t boot_ms);

// What VM `index`'s screen capture gives: a 1280x720 PNG of its own.
std::string ScreenPng(int index);
// The same screen as `screencap` without -p prints it on Android 9 and later: a 16-byte header
// (width, height, format 1 for RGBA_8888, colour space 1, little-endian u32 each), then its
// RGBA pixels. Drawn into `bytes`'s memory, so a caller that gives back the last one allocates
// none.
std::string ScreenRaw(int index, std::string bytes = {});

std::string JoinWords(const std::vector<std::string>& words);
// Runs one device command line (words separated by single spaces, as adb sends them).
Result Shell(const std::string& root, const Device& device, uint32_t boot_ms,
             const std::string& line);
// adb pull: copies a file of the device's /sdcard/ to a host path.
Result Pull(const std::string& root, int index, const std::vector<std::string>& words);

}  // namespace sim
