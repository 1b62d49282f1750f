// Where the tools this process waits for find a console. A console tool started with none opens
// a window; one started on a console made for this process alone can keep that console alive
// after we end, and under Wine the console host holds copies of the handles we were started
// with (a caller's pipes among them). So a run whose console is not shared with its caller
// either gives every tool a hidden console of its own (two process starts a tool), or moves
// once onto a hidden console made for the run by a keeper that holds nothing of the caller's,
// which every tool then shares.
#pragma once

// The word a console keeper is started with, before the process number it waits for: the
// keeper makes the run's console, the run joins it, then ends the keeper. The program that
// calls JoinARunConsole answers it with KeepConsoleFor before anything else.
inline constexpr wchar_t kConsoleKeeperWord[] = L"--console-keeper";

// The keeper: waits (bounded) for the process `parent_pid` names to end, or to end it.
int KeepConsoleFor(const wchar_t* parent_pid);

// When the tools would need consoles of their own and neither our output nor our errors go to
// a console (a console that shows them stays ours), starts this program as the keeper,
// leaves our console and joins the keeper's, restoring our standard handles. On any failure
// the tools keep a console each. Call once, before any tool starts.
void JoinARunConsole();

// Whether the tools this process starts need hidden consoles of their own: false on a console
// shared with the caller (the tools share it too, and save the start of a console each) or on
// the run's own console; true otherwise. Asked before the first tool starts.
bool ToolsNeedConsolesOfTheirOwn();
