#include "sim/adb_device.h"

#include <windows.h>

#include <cstring>

#include "image/image_scaling.h"

namespace sim {

namespace {

constexpr int kFirstPort = 21503;
constexpr const char kDevicePrefix[] = "/sdcard/";

// The simulated screen: landscape, as MEmu's default.
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 720;

}  // namespace

Result Failure(const std::string& text) {
    return {text, 1};
}

// Index of the VM listening on "127.0.0.1:<port>", -1 for any other target.
int IndexOfTarget(const std::string& target) {
    const std::string host = "127.0.0.1:";
    if (target.rfind(host, 0) != 0) return -1;
    int port = 0;
    if (!ParseInt(target.substr(host.size()), &port)) return -1;
    if (port < kFirstPort || (port - kFirstPort) % 10 != 0) return -1;
    return (port - kFirstPort) / 10;
}

Device FindDevice(const std::string& root, int index) {
    Device device;
    device.index = index;
    RootLock lock(root);
    std::vector<Vm> vms = LoadState(root);
    const Vm* vm = index < 0 ? nullptr : FindVm(vms, index);
    device.running = vm && vm->started && IsProcessAlive(vm->pid);
    if (device.running) device.started_at = vm->started_at;
    return device;
}

namespace {

// VM `index`'s screen, drawn as `channels` bytes a pixel (3: RGB; 4: RGBA, alpha opaque): a
// gradient with blocks of noise (a screen's PNG is not tiny) and a band in the VM's own colour.
void DrawScreen(int index, int channels, unsigned char* pixels) {
    uint32_t seed = 2166136261u ^ static_cast<uint32_t>(index);
    for (int y = 0; y < kScreenHeight; ++y) {
        for (int x = 0; x < kScreenWidth; ++x) {
            unsigned char* pixel = pixels + (static_cast<size_t>(y) * kScreenWidth + x) * channels;
            const bool noisy = (x / 32 + y / 32) % 5 == 0;
            if (noisy) seed = seed * 1103515245 + 12345;
            const bool band = y / 60 == index % 12;
            pixel[0] = static_cast<unsigned char>(noisy ? seed >> 16 : x * 255 / kScreenWidth);
            pixel[1] = static_cast<unsigned char>(noisy ? seed >> 8 : y * 255 / kScreenHeight);
            pixel[2] = static_cast<unsigned char>(band ? 40 * index : 128);
            if (channels == 4) pixel[3] = 255;
        }
    }
}

void PutU32(std::string* bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>(value >> (8 * i));
}

}  // namespace

std::string ScreenPng(int index) {
    image::Picture picture{kScreenWidth, kScreenHeight, {}};
    picture.rgb.resize(static_cast<size_t>(kScreenWidth) * kScreenHeight * 3);
    DrawScreen(index, 3, picture.rgb.data());
    return image::Encode(picture, image::Format::kPng, 0);
}

std::string ScreenRaw(int index, std::string bytes) {
    constexpr size_t kHeader = 16;
    bytes.resize(kHeader + static_cast<size_t>(kScreenWidth) * kScreenHeight * 4);
    PutU32(&bytes, 0, kScreenWidth);
    PutU32(&bytes, 4, kScreenHeight);
    PutU32(&bytes, 8, 1);   // RGBA_8888
    PutU32(&bytes, 12, 1);  // sRGB
    DrawScreen(index, 4, reinterpret_cast<unsigned char*>(bytes.data() + kHeader));
    return bytes;
}

std::string JoinWords(const std::vector<std::string>& words) {
    std::string text;
    for (size_t i = 0; i < words.size(); ++i) text += (i > 0 ? " " : "") + words[i];
    return text;
}

bool Booted(const Device& device, uint32_t boot_ms) {
    return FileTimeNow() >= device.started_at + uint64_t{boot_ms} * 10000;
}

namespace {

// Host path of a device file under /sdcard/, empty for any other device path.
std::string HostPathOf(const std::string& root, int index, const std::string& device_path) {
    if (device_path.rfind(kDevicePrefix, 0) != 0) return "";
    const std::string name = device_path.substr(sizeof kDevicePrefix - 1);
    if (name.empty() || name.find_first_of("/\\") != std::string::npos) return "";
    return root + "sim-sdcard\\" + std::to_string(index) + "\\" + name;
}

// True when `c` is one of the characters of `set`.
bool IsOneOf(char c, const char* set) {
    return c != '\0' && std::strchr(set, c) != nullptr;
}

// A device command line read as the device's POSIX shell reads it.
struct ShellLine {
    std::vector<std::string> words;
    bool plain = true;  // one simple command: no operator, expansion or syntax error
};

// Reads a double-quoted part starting after its opening quote; returns the index of the
// closing quote, or the line's size when it is missing. `$` and '`' expand inside.
size_t ReadDoubleQuoted(const std::string& line, size_t i, std::string* word, bool* plain) {
    for (; i < line.size(); ++i) {
        const char c = line[i];
        if (IsGbkLead(c) && i + 1 < line.size()) {
            *word += c;
            *word += line[++i];
        } else if (c == '"') {
            return i;
        } else if (c == '\\' && i + 1 < line.size() && IsOneOf(line[i + 1], "$`\"\\\n")) {
            if (line[++i] != '\n') *word += line[i];
        } else {
            if (c == '$' || c == '`') *plain = false;
            *word += c;
        }
    }
    *plain = false;
    return i;
}

ShellLine ReadShellLine(const std::string& line) {
    ShellLine parsed;
    std::string word;
    bool in_word = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t') {
            if (in_word) parsed.words.push_back(word);
            word.clear();
            in_word = false;
            continue;
        }
        if (c == '#' && !in_word) break;  // a comment to the end of the line
        if (c == '\\' && i + 1 < line.size() && line[i + 1] == '\n') {
            ++i;  // a continued line
            continue;
        }
        in_word = true;
        if (IsGbkLead(c) && i + 1 < line.size()) {
            word += c;
            word += line[++i];
        } else if (c == '\'') {
            const size_t close = line.find('\'', i + 1);
            if (close == std::string::npos) {
                parsed.plain = false;
                break;
            }
            word += line.substr(i + 1, close - i - 1);
            i = close;
        } else if (c == '"') {
            i = ReadDoubleQuoted(line, i + 1, &word, &parsed.plain);
        } else if (c == '\\' && i + 1 < line.size()) {
            word += line[++i];
            if (IsGbkLead(line[i]) && i + 1 < line.size()) word += line[++i];
        } else {
            if (IsOneOf(c, ";&|<>()$`\n")) parsed.plain = false;
            word += c;
        }
    }
    if (in_word) parsed.words.push_back(word);
    return parsed;
}

// The words of a device line joined with single spaces, as adb.exe sends them.
std::vector<std::string> SplitOnSpaces(const std::string& line) {
    std::vector<std::string> words;
    size_t start = 0;
    for (;;) {
        const size_t space = line.find(' ', start);
        const std::string word = line.substr(start, space - start);
        if (!word.empty()) words.push_back(word);
        if (space == std::string::npos) return words;
        start = space + 1;
    }
}

// Android's input replaces every "%s" of its text by a space.
std::string TypedText(const std::string& word) {
    std::string typed;
    for (size_t i = 0; i < word.size(); ++i) {
        if (word.compare(i, 2, "%s") == 0) {
            typed += ' ';
            ++i;
        } else {
            typed += word[i];
        }
    }
    return typed;
}

Result InputText(const std::string& root, int index, const std::string& line,
                 const ShellLine& parsed) {
    if (!parsed.plain || parsed.words.size() != 3) {
        return Failure("sim: the device shell would run: " + line + "\r\n");
    }
    AppendRootFile(root, kTypedFile, std::to_string(index) + "\t" + TypedText(parsed.words[2]));
    return {};
}

Result BootCompleted(const Device& device, uint32_t boot_ms) {
    if (!Booted(device, boot_ms)) return Failure("error: device offline\r\n");
    return {"1\r\n", 0};
}

Result Screencap(const std::string& root, int index, const std::string& device_path) {
    const std::string host = HostPathOf(root, index, device_path);
    if (host.empty()) return Failure("screencap: cannot write " + device_path + "\r\n");
    CreateDirectoryW(ToWide(root + "sim-sdcard").c_str(), nullptr);
    CreateDirectoryW(ToWide(root + "sim-sdcard\\" + std::to_string(index)).c_str(), nullptr);
    WriteFileBytes(host, ScreenPng(index));
    return {};
}

Result Remove(const std::string& root, int index, const std::string& device_path) {
    const std::string host = HostPathOf(root, index, device_path);
    if (host.empty() || !DeleteFileW(ToWide(host).c_str())) {
        return Failure("rm: " + device_path + ": No such file or directory\r\n");
    }
    return {};
}

}  // namespace

Result Shell(const std::string& root, const Device& device, uint32_t boot_ms,
             const std::string& line) {
    const std::vector<std::string> words = SplitOnSpaces(line);
    if (line == "getprop sys.boot_completed") return BootCompleted(device, boot_ms);
    const ShellLine parsed = ReadShellLine(line);
    if (parsed.words.size() >= 2 && parsed.words[0] == "input" && parsed.words[1] == "text") {
        return InputText(root, device.index, line, parsed);
    }
    if (words.size() >= 3 && words[0] == "/system/bin/screencap" && words[1] == "-p") {
        return Screencap(root, device.index, words[2]);
    }
    if (words.size() >= 2 && words[0] == "rm") return Remove(root, device.index, words[1]);
    // The package manager says how a clear went, as on a device.
    if (words.size() >= 3 && words[0] == "pm" && words[1] == "clear") return {"Success\r\n", 0};
    return {};  // other input and the rest succeed without a word
}

Result Pull(const std::string& root, int index, const std::vector<std::string>& words) {
    if (words.size() < 2) return Failure("adb: error: pull needs a source and a destination\r\n");
    const std::string host = HostPathOf(root, index, words[0]);
    std::string bytes;
    if (host.empty() || !ReadFileBytes(host, &bytes)) {
        return Failure("adb: error: failed to stat remote object '" + words[0] +
                       "': No such file or directory\r\n");
    }
    if (!WriteFileBytes(words[1], bytes)) {
        return Failure("adb: error: cannot create '" + words[1] + "'\r\n");
    }
    return {words[0] + ": 1 file pulled. (" + std::to_string(bytes.size()) + " bytes)\r\n", 0};
}

}  // namespace sim
