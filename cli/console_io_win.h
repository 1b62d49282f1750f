// The console companion's console: text written so that Chinese reads right wherever it goes,
// JSON as UTF-8, and Ctrl+C turned into a request to stop after the current command.
#pragma once

#include "cli/farm_console.h"

class WinFarmConsole : public FarmConsole {
public:
    // Text to a console window goes through the wide console API (right on any code page);
    // redirected text is written in the system's ANSI code page, as the emulator's tools write.
    void Print(std::string_view text) override;
    void PrintError(std::string_view text) override;
    // UTF-8 bytes when redirected; shown through the wide console API in a console window.
    void PrintJson(std::string_view utf8) override;
    std::string Utf8FromGbk(std::string_view text) override;
    bool StopRequested() override;

    // From now on the first Ctrl+C (or Ctrl+Break) asks to stop; a second one ends the program.
    static void CatchInterrupts();
};
