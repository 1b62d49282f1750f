// The end routine: registered once during start-up, run once when the program ends normally,
// and dropped (never run) when the program stops on a fatal runtime error.
#pragma once

namespace end_routine {

using Routine = void (*)();

// Registers the routine, replacing any earlier one.
void Register(Routine routine);

// Runs the registered routine once; later calls do nothing.
void Run();

// Forgets the registered routine, so that Run() does nothing.
void Drop();

}  // namespace end_routine
