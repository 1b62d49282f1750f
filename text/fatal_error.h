// The one reaction to internal faults: a message box titled "错误" and exit code -1.
//
// Portable code raises through RaiseFatalError(); the Windows shell installs the handler that
// shows the box and ends the process. Natively (unit tests) a handler can throw instead.
#pragma once

#include <cstddef>
#include <string>

namespace fatal {

// Fixed position pairs: the first number names the routine, the second the statement.
struct Site {
    int routine;
    int statement;
};

enum Code : int {
    kNoCode = 0,
    kIndexAboveCount = 1,
    kIndexBelowOne = 4,
};

// "运行时出错!\r\n" + optional code and message blocks + the position pair.
std::string BuildMessage(int code, const std::string& message, Site site);

std::string IndexAboveCountText();
std::string IndexBelowOneText();
std::string AllocationFailedText(size_t bytes);
std::string MissingFunctionText(const std::string& library, const std::string& function);
std::string WindowLoadFailedText();

using Handler = void (*)(int code, const std::string& message, Site site);

// Installs the handler; returns the previous one.
Handler SetHandler(Handler handler);

// Calls the handler. If it returns (it should not), the process is aborted.
[[noreturn]] void Raise(int code, const std::string& message, Site site);

}  // namespace fatal
