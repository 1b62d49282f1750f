// Text tables whose columns line up: each cell padded to its column's widest cell (in bytes:
// a GBK Chinese character is two bytes and two columns wide), two blanks between columns.
#pragma once

#include <string>
#include <vector>

using TableRow = std::vector<std::string>;

// One line per row, without line ends; the last cell is not padded.
std::vector<std::string> AlignedLines(const std::vector<TableRow>& rows);
