#include "farm/report/aligned_table.h"

#include <algorithm>

std::vector<std::string> AlignedLines(const std::vector<TableRow>& rows) {
    std::vector<size_t> widths;
    for (const TableRow& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    std::vector<std::string> lines;
    lines.reserve(rows.size());
    for (const TableRow& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line.append(widths[c] - row[c].size() + 2, ' ');
        }
        lines.push_back(std::move(line));
    }
    return lines;
}
