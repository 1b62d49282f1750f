// The --files rule on Windows' path rules: a path a request names lies below the files
// folder, or it is refused.
#include "serve/files_folder.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "row_name.h"

namespace {

struct FilesRow {
    const char* name;
    std::string folder;
    std::string path;
    std::optional<std::string> full;  // nothing: not inside
};

class ServeFiles : public testing::TestWithParam<FilesRow> {};

TEST_P(ServeFiles, KeepsPathsInsideTheFolder) {
    const FilesRow& row = GetParam();
    EXPECT_EQ(serve::FullPathInside(row.path, row.folder), row.full);
}

const std::string kFiles = "C:\\files";
const std::nullopt_t kOutside = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    ServeFilesRows, ServeFiles,
    testing::Values(
        FilesRow{"inside", kFiles, "C:\\files\\a.apk", "C:\\files\\a.apk"},
        FilesRow{"inside_deeper", kFiles, "C:\\files\\sub\\a.png", "C:\\files\\sub\\a.png"},
        FilesRow{"forward_slashes", kFiles, "C:/files/sub/a.png", "C:\\files\\sub\\a.png"},
        FilesRow{"mixed_slashes_doubled", kFiles, "C:\\files//sub\\\\a.png",
                 "C:\\files\\sub\\a.png"},
        FilesRow{"other_case", kFiles, "c:\\FILES\\a.apk", "C:\\FILES\\a.apk"},
        FilesRow{"relative", kFiles, "a.apk", "C:\\files\\a.apk"},
        FilesRow{"relative_dot", kFiles, ".\\sub\\a.apk", "C:\\files\\sub\\a.apk"},
        FilesRow{"dot_dot_stays_in", kFiles, "C:\\files\\sub\\..\\a.apk", "C:\\files\\a.apk"},
        FilesRow{"dot_dot_back_in", kFiles, "..\\files\\a.apk", "C:\\files\\a.apk"},
        FilesRow{"dot_dot_out", kFiles, "C:\\files\\..\\a.apk", kOutside},
        FilesRow{"relative_out", kFiles, "..\\a.apk", kOutside},
        FilesRow{"relative_out_deep", kFiles, "sub\\..\\..\\..\\a.apk", kOutside},
        FilesRow{"prefix_trick", kFiles, "C:\\files2\\a.apk", kOutside},
        FilesRow{"prefix_trick_relative", kFiles, "..\\files2\\a.apk", kOutside},
        FilesRow{"the_folder_itself", kFiles, "C:\\files", kOutside},
        FilesRow{"the_folder_with_separator", kFiles, "C:\\files\\", kOutside},
        FilesRow{"other_drive", kFiles, "D:\\files\\a.apk", kOutside},
        FilesRow{"drive_relative", kFiles, "C:files\\a.apk", kOutside},
        FilesRow{"current_drive_root", kFiles, "\\files\\a.apk", kOutside},
        FilesRow{"verbatim_form", kFiles, "\\\\?\\C:\\files\\a.apk", kOutside},
        FilesRow{"device_form", kFiles, "\\\\.\\C:\\files\\a.apk", kOutside},
        FilesRow{"empty", kFiles, "", kOutside},
        FilesRow{"device_name", kFiles, "C:\\files\\NUL", kOutside},
        FilesRow{"device_name_with_extension", kFiles, "C:\\files\\com1.png", kOutside},
        FilesRow{"device_name_blank_before_dot", kFiles, "C:\\files\\aux .png", kOutside},
        FilesRow{"near_device_name", kFiles, "C:\\files\\null.png", "C:\\files\\null.png"},
        FilesRow{"trailing_dot", kFiles, "C:\\files\\a.", kOutside},
        FilesRow{"trailing_blank", kFiles, "C:\\files\\a ", kOutside},
        FilesRow{"folder_trailing_dot", kFiles, "C:\\files.\\a.apk", kOutside},
        FilesRow{"data_stream", kFiles, "C:\\files\\a.apk:evil", kOutside},
        FilesRow{"wildcard", kFiles, "C:\\files\\*.apk", kOutside},
        FilesRow{"control_character", kFiles, "C:\\files\\a\tb.apk", kOutside},
        // GBK: a trail byte may be '\\' (0x5C) or a letter; neither splits nor folds.
        FilesRow{"gbk_trail_backslash", kFiles, "C:\\files\\\x95\x5C.apk",
                 "C:\\files\\\x95\x5C.apk"},
        FilesRow{"gbk_trail_backslash_folder", "C:\\\x95\x5C", "C:\\\x95\x5C\\a.apk",
                 "C:\\\x95\x5C\\a.apk"},
        FilesRow{"gbk_trail_backslash_not_a_folder", "C:\\\x95", "C:\\\x95\x5C\\a.apk", kOutside},
        FilesRow{"gbk_trail_letter_same",
                 "C:\\\x81"
                 "A",
                 "C:\\\x81"
                 "A\\a.apk",
                 "C:\\\x81"
                 "A\\a.apk"},
        FilesRow{"gbk_trail_letter_not_folded",
                 "C:\\\x81"
                 "A",
                 "C:\\\x81"
                 "a\\a.apk",
                 kOutside},
        // Shares and drive roots.
        FilesRow{"share", "\\\\pc\\share\\files", "\\\\PC\\Share\\files\\a.apk",
                 "\\\\pc\\share\\files\\a.apk"},
        FilesRow{"share_prefix_trick", "\\\\pc\\share\\files", "\\\\pc\\share\\files2\\a.apk",
                 kOutside},
        FilesRow{"share_other", "\\\\pc\\share\\files", "\\\\pc\\other\\files\\a.apk", kOutside},
        FilesRow{"share_climbs_out", "\\\\pc\\share\\files", "\\\\pc\\share\\..\\x\\a.apk",
                 kOutside},
        FilesRow{"drive_root_folder", "C:\\", "C:\\a.apk", "C:\\a.apk"},
        FilesRow{"relative_folder", "files", "files\\a.apk", kOutside}),
    RowName());

}  // namespace
