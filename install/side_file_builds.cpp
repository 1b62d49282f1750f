#include "install/side_file_builds.h"

#include <limits>

ConsoleBuild SideFileBuildStore::Find(const ConsoleBuildInfo& info) {
    ConsoleBuild embedded = embedded_.Find(info);
    if (embedded.bytes) return embedded;

    // One byte past the listed size tells a longer file apart without reading all of it.
    const uint64_t limit =
        info.size < std::numeric_limits<uint64_t>::max() ? info.size + 1 : info.size;
    std::string bytes;
    switch (folder_.ReadAtMost(SideFileName(info), limit, bytes)) {
        case FolderReader::Result::kAbsent:
            return {};
        case FolderReader::Result::kUnreadable:
            return {std::nullopt, /*side_file_refused=*/true};
        case FolderReader::Result::kRead:
            break;
    }
    if (!matches_(bytes, info)) return {std::nullopt, /*side_file_refused=*/true};
    std::string& kept = side_files_[info.version];
    kept = std::move(bytes);
    return {std::string_view(kept)};
}
