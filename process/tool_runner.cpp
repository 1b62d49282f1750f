#include "process/tool_runner.h"

std::string ToolFileOf(const std::string& line) {
    return line.substr(0, line.find(' '));
}
