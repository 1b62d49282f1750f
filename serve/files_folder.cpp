#include "serve/files_folder.h"

#include <vector>

#include "serve/headers.h"
#include "text/gbk_text.h"

namespace serve {
namespace {

// A path cut into its root ("C:", "\\\\pc\\share", or empty for a relative path) and its
// names, "." and ".." followed. Nothing when it cannot be read safely.
struct CutPath {
    std::string root;
    std::vector<std::string> names;
};

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsDeviceName(std::string_view name) {
    // Windows reads these as devices in any folder, with any extension.
    std::string base = LowerAscii(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    static const char* const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* device : kDevices)
        if (base == device) return true;
    if (base.size() == 4 && (base.starts_with("com") || base.starts_with("lpt")) &&
        base[3] >= '0' && base[3] <= '9')
        return true;
    return false;
}

// The names between separators, stepping over two-byte characters; nothing when a name holds
// what a file name cannot.
std::optional<std::vector<std::string>> Names(std::string_view text) {
    std::vector<std::string> names;
    std::string name;
    const auto end_name = [&]() -> bool {
        if (name.empty() || name == ".") {
        } else if (name == "..") {
            names.push_back(name);
        } else {
            if (name.back() == '.' || name.back() == ' ') return false;
            if (IsDeviceName(name)) return false;
            names.push_back(name);
        }
        name.clear();
        return true;
    };
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t width = gbk::CharWidth(text, i);
        const char c = text[i];
        if (width == 1) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7F) return std::nullopt;
            if (c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|')
                return std::nullopt;
            if (IsSeparator(c)) {
                if (!end_name()) return std::nullopt;
                ++i;
                continue;
            }
        }
        name.append(text.substr(i, width));
        i += width;
    }
    if (!end_name()) return std::nullopt;
    return names;
}

bool IsDriveLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Follows ".." within the names; false when one climbs above the root.
bool Follow(std::vector<std::string>& names) {
    std::vector<std::string> kept;
    for (std::string& name : names) {
        if (name == "..") {
            if (kept.empty()) return false;
            kept.pop_back();
        } else {
            kept.push_back(std::move(name));
        }
    }
    names = std::move(kept);
    return true;
}

std::optional<CutPath> Cut(std::string_view path) {
    CutPath cut;
    std::string_view rest;
    if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':') {
        // "C:x" is relative to the drive's own current folder: refused.
        if (path.size() < 3 || !IsSeparator(path[2])) return std::nullopt;
        cut.root = std::string(1, static_cast<char>(path[0] & ~0x20)) + ":";
        rest = path.substr(3);
    } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        // \\pc\share\...; \\?\ and \\.\ take the rest as it is written: refused.
        const std::optional<std::vector<std::string>> parts = Names(path.substr(2));
        if (!parts || parts->size() < 2) return std::nullopt;
        const std::string& pc = (*parts)[0];
        const std::string& share = (*parts)[1];
        if (pc == "?" || pc == "." || pc == ".." || share == "..") return std::nullopt;
        cut.root = "\\\\" + LowerAscii(pc) + "\\" + LowerAscii(share);
        cut.names.assign(parts->begin() + 2, parts->end());
        if (!Follow(cut.names)) return std::nullopt;
        return cut;
    } else if (!path.empty() && IsSeparator(path[0])) {
        return std::nullopt;  // "\x": on whichever drive is current
    } else {
        rest = path;
    }
    std::optional<std::vector<std::string>> names = Names(rest);
    if (!names) return std::nullopt;
    cut.names = std::move(*names);
    if (!cut.root.empty() && !Follow(cut.names)) return std::nullopt;
    return cut;
}

// ASCII letters folded; the bytes of two-byte characters compared as they are.
std::string Folded(std::string_view name) {
    std::string folded;
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t width = gbk::CharWidth(name, i);
        if (width == 1)
            folded += LowerAscii(name.substr(i, 1));
        else
            folded.append(name.substr(i, width));
        i += width;
    }
    return folded;
}

}  // namespace

std::optional<std::string> FullPathInside(std::string_view path, std::string_view folder) {
    std::optional<CutPath> base = Cut(folder);
    if (!base || base->root.empty() || path.empty()) return std::nullopt;
    std::optional<CutPath> target = Cut(path);
    if (!target) return std::nullopt;
    if (target->root.empty()) {
        std::vector<std::string> names = base->names;
        names.insert(names.end(), target->names.begin(), target->names.end());
        if (!Follow(names)) return std::nullopt;
        target->root = base->root;
        target->names = std::move(names);
    }
    if (!EqualsIgnoringCase(target->root, base->root)) return std::nullopt;
    if (target->names.size() <= base->names.size()) return std::nullopt;
    for (std::size_t i = 0; i < base->names.size(); ++i)
        if (Folded(target->names[i]) != Folded(base->names[i])) return std::nullopt;
    std::string full = target->root;
    for (const std::string& name : target->names) full += "\\" + name;
    return full;
}

}  // namespace serve
