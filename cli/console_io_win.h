// The console companion's console: text written so that Chinese reads right wherever it goes,
// with CR LF line ends, and JSON as UTF-8.
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
    bool OutputIsConsole() override;
    // On a console window: a screen buffer of the window's size, made active for the rounds and
    // written cell by cell, so nothing scrolls; the normal screen comes back with EndRedraw.
    void Redraw(std::string_view text) override;
    void EndRedraw() override;
};

// Makes the console's normal screen active again if Redraw left another one showing (for an
// end in the middle of a redraw loop).
void RestoreConsoleScreen();

// Text with every LF that has no CR before it written as CR LF.
std::string WithCrLf(std::string_view text);
