// The MEmuManage.exe command lines of the one-key run and the names they use.
#pragma once

#include <cstdint>
#include <string>

// "MEmu" for VM index 0, else "MEmu_" + index ("MEmu_-1" when nothing is selected).
std::string MasterName(int32_t vm_index);

// Decimal text of the i-th clone's number, i + 100 (101, 102, ...; 1000 from the 900th on).
std::string CloneNumber(int64_t i);

// Install directory cut in front of its first "MEmu", plus "MEmuHyperv\".
std::string ToolsDirectoryFor(const std::string& install_dir);

// MEmuManage.exe snapshot <master> take "SnapshotTest"
std::string SnapshotCommand(const std::string& master);

// MEmuManage.exe clonevm <master> --name="MEmu_<n>" ...
// --uuid={20200716-dddd-dddd-dddd-000000000<n>}
std::string CloneCommand(const std::string& master, const std::string& clone_number);
