// Where the console companion's output goes. Portable: tests give a fake.
#pragma once

#include <string>
#include <string_view>

class FarmConsole {
public:
    virtual ~FarmConsole() = default;
    // Text (GBK) to standard output and standard error. Lines end in LF or CR LF; the console
    // writes CR LF.
    virtual void Print(std::string_view text) = 0;
    virtual void PrintError(std::string_view text) = 0;
    // One JSON document (UTF-8) on standard output.
    virtual void PrintJson(std::string_view utf8) = 0;
    virtual std::string Utf8FromGbk(std::string_view text) = 0;

    // True when standard output is a console window rather than a pipe or a file.
    virtual bool OutputIsConsole() { return false; }
    // Shows `text` (GBK) in place of what the previous call showed, like top: in a console
    // window on a screen of its own, which never scrolls; elsewhere it is printed.
    virtual void Redraw(std::string_view text) { Print(text); }
    // Back to the normal screen, with the last text Redraw showed printed there.
    virtual void EndRedraw() {}
};
