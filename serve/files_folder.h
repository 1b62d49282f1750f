// The --files rule: a path a web request names must lie inside the files folder, by Windows'
// path rules. Paths are GBK texts, as the console's parse holds them (a trail byte may be '\\').
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace serve {

// `path` made full, when it lies below `folder` (the folder itself is not inside). `folder`
// is full: a drive ("C:\\files") or a share ("\\\\pc\\share\\files"). A relative path is
// taken from `folder`. '\\' and '/' both separate; "." and ".." are followed; names are
// compared without regard to the case of ASCII letters, one whole name at a time (so
// "C:\\files2" is not inside "C:\\files"). Refused as not inside, whatever the folder: a path
// Windows reads otherwise than it is written ("C:x" on the drive's current folder, "\\x" on
// the current drive, "\\\\?\\" and "\\\\.\\" forms, a name ending in a dot or a blank, a name
// with ':' as in a data stream), a device name (NUL, CON, COM1, "nul.txt", ...), wildcards,
// control characters.
std::optional<std::string> FullPathInside(std::string_view path, std::string_view folder);

inline bool IsInsideFolder(std::string_view path, std::string_view folder) {
    return FullPathInside(path, folder).has_value();
}

}  // namespace serve
