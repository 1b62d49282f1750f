// The MEmuManage.exe command lines of the one-key run and the names they use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// "MEmu" for VM index 0, else "MEmu_" + index ("MEmu_-1" when nothing is selected).
std::string MasterName(int32_t vm_index);

// Decimal text of the i-th clone's number, i + 100 (101, 102, ...; 1000 from the 900th on).
std::string CloneNumber(int64_t i);

// How a run numbers its clones. The window numbers from 101 and puts the number after
// "000000000" in the uuid's last group (so from 1000 on that group has 13 digits). A scripted
// run may start anywhere and zero-pads the number to the group's 12 digits, which gives the
// same uuid for 101 to 999 and valid uuids up to kLastCloneNumber.
// The window's first clone number, and the default of a scripted run.
inline constexpr int64_t kFirstCloneNumber = 101;
inline constexpr int64_t kLastCloneNumber = 999999999999;

struct CloneNumbering {
    int64_t first = kFirstCloneNumber;
    bool pad_uuid = false;
};

// True when clones first .. first + count - 1 all have numbers from 1 to kLastCloneNumber.
bool CloneNumbersFit(int64_t first, int64_t count);

// Decimal text of the i-th clone's number (i counted from 1) under `numbering`.
std::string CloneNumberAt(const CloneNumbering& numbering, int64_t i);

// MEmuManage.exe's folder, "MEmuHyperv\" beside the install folder, by two rules:
//
// The window's: the install directory cut in front of its first "MEmu" (letter case as
// written), plus "MEmuHyperv\". Its lines and log texts depend on exactly this folder, and it
// is only ever made current, so a relative result still works there.
std::string ToolsDirectoryFor(const std::string& install_dir);
// The companion's: cut in front of the first "MEmu" in any letter case, or the install
// folder's parent when it has none. Always a full path: the companion starts MEmuManage.exe
// by its full path, and a folder cut down to nothing would name the caller's current folder.
std::string ToolsFolderBeside(const std::string& install_dir);

// The tool of every line of the one-key run; each line begins with this name and a blank.
inline constexpr const char* kManageFile = "MEmuManage.exe";

// One line of the run, its program and its arguments apart: the window runs the whole line,
// the console companion starts the program by its full path with the arguments.
struct ToolLine {
    std::string program;    // "MEmuManage.exe"
    std::string arguments;  // from the blank after the program: " snapshot MEmu take ..."
    std::string Text() const { return program + arguments; }
};

// The snapshot every run takes and, unless bound to its UUID, names in its clone lines.
inline constexpr const char* kSnapshotName = "SnapshotTest";

// MEmuManage.exe snapshot <master> take "SnapshotTest"
ToolLine SnapshotStep(const std::string& master);
std::string SnapshotCommand(const std::string& master);

// MEmuManage.exe clonevm <master> --name="MEmu_<n>" ...
// --uuid={20200716-dddd-dddd-dddd-000000000<n>}
std::string CloneCommand(const std::string& master, const std::string& clone_number);
// The same line with the uuid's last group chosen by `pad_uuid` (see CloneNumbering) and the
// snapshot named by `snapshot` (its name, or a UUID).
std::string CloneCommand(const std::string& master, const std::string& clone_number, bool pad_uuid,
                         std::string_view snapshot = kSnapshotName);
ToolLine CloneStep(const std::string& master, const std::string& clone_number, bool pad_uuid,
                   std::string_view snapshot = kSnapshotName);

// The UUID in a snapshot reply ("Snapshot taken. UUID: <uuid>"), or nothing.
std::optional<std::string> SnapshotUuidOf(std::string_view reply);

// Every line of one run, before it runs: the window's run, the console companion's run and
// its dry run, and the benchmark all take their lines from here.
struct ClonePlan {
    std::string master;  // MasterName of the master VM
    CloneNumbering numbering;
    // The clone lines name the snapshot this run took by the UUID its reply gave, rather than
    // by name: the VM service resolves a name to the first snapshot of that name, which after
    // a second run on a changed master is the old one.
    bool bind_to_snapshot_uuid = false;

    ToolLine SnapshotStep() const { return ::SnapshotStep(master); }
    std::string SnapshotLine() const { return SnapshotStep().Text(); }
    std::string CloneNumberText(int64_t i) const { return CloneNumberAt(numbering, i); }
    // `snapshot`: kSnapshotName, or the UUID when bound to it.
    ToolLine CloneStep(int64_t i, std::string_view snapshot = kSnapshotName) const {
        return ::CloneStep(master, CloneNumberText(i), numbering.pad_uuid, snapshot);
    }
    std::string CloneLine(int64_t i, std::string_view snapshot = kSnapshotName) const {
        return CloneStep(i, snapshot).Text();
    }
};
