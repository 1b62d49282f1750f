// The MEmuManage.exe command lines of the one-key run and the names they use.
#pragma once

#include <cstdint>
#include <string>

// "MEmu" for VM index 0, else "MEmu_" + index ("MEmu_-1" when nothing is selected).
std::string MasterName(int32_t vm_index);

// Decimal text of the i-th clone's number, i + 100 (101, 102, ...; 1000 from the 900th on).
std::string CloneNumber(int64_t i);

// How a run numbers its clones. The window numbers from 101 and puts the number after
// "000000000" in the uuid's last group (so from 1000 on that group has 13 digits). A scripted
// run may start anywhere and zero-pads the number to the group's 12 digits, which gives the
// same uuid for 101 to 999 and valid uuids up to kLastPaddedCloneNumber.
struct CloneNumbering {
    int64_t first = 101;
    bool pad_uuid = false;
};
inline constexpr int64_t kLastPaddedCloneNumber = 999999999999;

// Decimal text of the i-th clone's number (i counted from 1) under `numbering`.
std::string CloneNumberAt(const CloneNumbering& numbering, int64_t i);

// Install directory cut in front of its first "MEmu", plus "MEmuHyperv\".
std::string ToolsDirectoryFor(const std::string& install_dir);

// MEmuManage.exe snapshot <master> take "SnapshotTest"
std::string SnapshotCommand(const std::string& master);

// MEmuManage.exe clonevm <master> --name="MEmu_<n>" ...
// --uuid={20200716-dddd-dddd-dddd-000000000<n>}
std::string CloneCommand(const std::string& master, const std::string& clone_number);
// The same line with the uuid's last group chosen by `pad_uuid` (see CloneNumbering).
std::string CloneCommand(const std::string& master, const std::string& clone_number, bool pad_uuid);
