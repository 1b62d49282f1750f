// The companion's help: the program's (every command, the options, the exit codes) and one
// command's, made from the command and option tables.
#pragma once

#include <string>
#include <vector>

struct OptionRow;
struct VerbRow;

// "MEmuFarm start SET [--wait] ...": the command's usage line.
std::string CommandUsage(const VerbRow& verb);

std::string ProgramHelp(const std::string& version);
std::string CommandHelp(const std::string& command);
