// What a request that reads well is refused for before anything runs: texts against their
// arguments' rules (exactly as given: blanks are kept, never replaced by a default), VM
// indexes against the adb ports, clone numbers against the highest one.
#include "farm/command/request_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/farm_args.h"
#include "row_name.h"

namespace {

struct CheckRow {
    const char* name;
    std::vector<std::string> args;
    const char* problem;  // a part of the message; null: the request may run
};

class RequestCheckTest : public testing::TestWithParam<CheckRow> {};

TEST_P(RequestCheckTest, RefusesWhatCannotRunAndNothingElse) {
    const CheckRow& row = GetParam();
    const ParseOutcome outcome = ParseFarmArgs(row.args, "1");
    ASSERT_EQ(outcome.kind, ParseOutcome::Kind::kRun) << outcome.text;
    ExpectReason(RequestProblem(outcome.request), row.problem);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RequestCheckTest,
    testing::Values(
        CheckRow{"type_default", {"create"}, nullptr},
        CheckRow{"type_with_blanks_kept", {"create", " 52 "}, nullptr},
        CheckRow{"type_blank", {"create", "   "}, "TYPE is blank"},
        CheckRow{"type_empty", {"create", ""}, "TYPE is empty"},
        CheckRow{"package_leading_blank",
                 {"install", "1", "-p", " lead"},
                 "PACKAGE is not an Android package name"},
        CheckRow{"package_trailing_blank",
                 {"uninstall", "1", "com.x "},
                 "PACKAGE is not an Android package name"},
        CheckRow{"key_leading_blank", {"sendkey", "1", " lead"}, nullptr},
        CheckRow{"apk_blank", {"install", "1", "  "}, "APK is blank"},
        CheckRow{"apk_leading_blank", {"install", "1", " a.apk"}, nullptr},
        CheckRow{"file_blank", {"screenshot", "1", " "}, "FILE is blank"},
        CheckRow{"text_only_blanks", {"text", "1", "   "}, nullptr},
        CheckRow{"text_empty", {"text", "1", ""}, "TEXT is empty"},
        CheckRow{"text_percent_s", {"text", "1", "100%s"}, "TEXT holds %s"},
        CheckRow{"text_tab", {"text", "1", "a\tb"}, "TEXT holds TAB"},
        CheckRow{"text_chinese", {"text", "1", "\xC4\xE3"}, "TEXT holds"},
        CheckRow{"text_delete", {"text", "1", "a\x7F"}, "TEXT holds"},
        CheckRow{"input_chinese", {"input", "1", "\xC4\xE3\xBA\xC3"}, nullptr},
        CheckRow{"title_control", {"rename", "1", "a\rb"}, "TITLE holds a control character (CR)"},
        CheckRow{"adb_highest_index", {"tap", "4403", "1", "1"}, nullptr},
        CheckRow{"adb_index_beyond", {"tap", "4404", "1", "1"}, "VM 4404 has no adb port"},
        CheckRow{"boot_index_beyond", {"start", "4404", "--boot"}, "VM 4404 has no adb port"},
        CheckRow{"memuc_index_beyond_adb", {"start", "4404"}, nullptr},
        CheckRow{"clone_highest_number",
                 {"clone", "--master", "0", "--count", "1", "--first", "999999999999"},
                 nullptr},
        CheckRow{"clone_beyond_highest_number",
                 {"clone", "--master", "0", "--count", "2", "--first", "999999999999"},
                 "would number clones beyond 999999999999"},
        CheckRow{"randomize_highest_index",
                 {"clone", "--master", "0", "--count", "2", "--first", "2147483646", "--randomize"},
                 nullptr},
        CheckRow{"randomize_beyond_highest_index",
                 {"clone", "--master", "0", "--count", "2", "--first", "2147483647", "--randomize"},
                 "--randomize needs clone numbers up to 2147483647"}),
    RowName());

}  // namespace
