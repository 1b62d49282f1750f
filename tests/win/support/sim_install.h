// Installs the simulated emulator (our stand-ins built into bin\sim\) for Windows-side tests,
// and reads or steers it: its journal of received command lines, its test switches and its
// VM state. See sim/README.md for the formats.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_common.h"

// Folder that holds the built simulated tools (bin\sim\).
std::string SimBinDir();

// A fresh, empty folder under the temp folder, with a trailing backslash. `tag` becomes part
// of its name (it may hold Chinese characters).
std::string MakeTempFolder(const std::string& tag);

// Copies the simulated tools into <root>MEmu\ and <root>MEmuHyperv\ (`root` ends in a
// backslash and is created when missing), writes a state with `vm_count` VMs (index 0 "MEmu",
// n "MEmu_n", none started), empties the journal and the switches, and registers <root>
// (without its final backslash) as the uninstall entry's InstallLocation. Returns the install
// directory "<root>MEmu\", or empty when a step failed.
std::string InstallSimulatedEmulator(const std::string& root, int vm_count);

// HKLM uninstall entry of the emulator: sets the InstallLocation value (REG_SZ, or
// REG_EXPAND_SZ when `expandable`), or deletes the value.
bool SetInstallLocationValue(const std::string& value, bool expandable = false);
void DeleteInstallLocationValue();

// Writes a shell shortcut at `link_path` pointing to `target` (no target when empty).
bool WriteShortcut(const std::string& link_path, const std::string& target);

std::string SimJournal(const std::string& root);
std::vector<std::string> SimJournalLines(const std::string& root);
// Empties the journal and the calls file.
void ClearSimJournal(const std::string& root);
// The calls that have ended, from the calls file: when each began and ended, and its line
// ("memuc.exe memuc start -i 3").
struct SimCall {
    uint64_t begin_ms = 0;
    uint64_t end_ms = 0;
    std::string line;
};
std::vector<SimCall> SimCalls(const std::string& root);
// Replaces the switches file by `rules` (one "<tool> <subcommand> <behaviour>" per line).
void SetSimSwitches(const std::string& root, const std::string& rules);
std::vector<sim::Vm> SimVms(const std::string& root);
void WriteSimVms(const std::string& root, const std::vector<sim::Vm>& vms);
// Ends every VM process the state records as started and marks them stopped.
void StopSimulatedVms(const std::string& root);
