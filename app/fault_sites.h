// Position pairs shown by the fatal runtime error box: the first number names the routine, the
// second the check inside it. Every check site of the program has its own fixed pair, so the
// two numbers in a user's report lead straight to one line of code.
//
// Routine numbers are handed out by folder, each folder keeping its own list of sites in its
// own header (app/ keeps the one below):
//   100-199  app/      start-up, main window, memory allocation
//   200-299  install/  discovery, manager console write
//   300-399  cloning/  one-key run, VM list refresh
//   400-499  process/  command runner, waits, running-instance scanner
//   500-599  control/  control module operations
//   600-699  win/      system functions resolved at run time
//   900-999  test programs
// A routine with checks takes the next free number of its folder's range. Statement numbers
// count that routine's checks from 1 in source order; a number, once given, is never reused.
#pragma once

#include "text/fatal_error.h"

namespace fault_site {

// 101: the replaced global allocation functions.
inline constexpr fatal::Site kNew{101, 1};
inline constexpr fatal::Site kNewArray{101, 2};
inline constexpr fatal::Site kNewAligned{101, 3};
inline constexpr fatal::Site kNewArrayAligned{101, 4};

// 102: the start-up sequence.
inline constexpr fatal::Site kLoadMainWindow{102, 1};

// 103: the main window procedure (an exception that would otherwise leave it).
inline constexpr fatal::Site kMainWindowProcedure{103, 1};

// 104: the integer input procedure of 编辑框_数量 (same).
inline constexpr fatal::Site kIntegerEditProcedure{104, 1};

// 105: loading the main window (an exception that would leave the created event's handler).
inline constexpr fatal::Site kMainWindowCreatedEvent{105, 1};

}  // namespace fault_site
