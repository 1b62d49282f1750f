// The program runs elevated from wherever it was unzipped (often Downloads, where anyone can
// drop a DLL), so DLLs are taken only from the system folder.
#pragma once

// Restricts the process's DLL search to the system folder. Called first thing in each entry
// point. On Windows 7 without its loader update (no SetDefaultDllDirectories) it at least takes
// the current directory out of the search; the programs' static imports are all libraries
// Windows maps from the system folder anyway, and run-time loads name full system paths.
void LoadDllsFromSystemFolderOnly();
