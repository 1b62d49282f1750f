#include "control/command_line_args.h"

#include "text/gbk_text.h"

namespace cmdline {

size_t CharWidth936(std::string_view text, size_t i) {
    return gbk::IsCodePage936LeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()
               ? 2
               : 1;
}

std::string EscapeInsideQuotes(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    size_t backslashes = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t width = CharWidth936(text, i);
        if (width == 1 && text[i] == '\\') {
            ++backslashes;
            ++i;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote itself escaped.
        out.append(width == 1 && text[i] == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out.append(text.substr(i, width));
        i += width;
    }
    // Before the closing quote, every backslash is doubled.
    out.append(backslashes * 2, '\\');
    return out;
}

std::string QuoteArgument(std::string_view text) {
    if (!text.empty() && text.find_first_of(" \t\"") == std::string_view::npos)
        return std::string(text);
    std::string quoted(1, '"');
    quoted += EscapeInsideQuotes(text);
    quoted += '"';
    return quoted;
}

std::vector<std::string> SplitArguments(std::string_view line) {
    std::vector<std::string> args;
    std::string current;
    bool in_argument = false;
    bool quoted = false;
    for (size_t i = 0; i < line.size();) {
        const size_t width = CharWidth936(line, i);
        const char c = line[i];
        if (width == 2) {
            current.append(line.substr(i, 2));
            in_argument = true;
            i += 2;
        } else if (c == '\\') {
            size_t run = 0;
            while (i + run < line.size() && line[i + run] == '\\') ++run;
            in_argument = true;
            if (i + run < line.size() && line[i + run] == '"') {
                current.append(run / 2, '\\');
                if (run % 2 == 1) {
                    current += '"';
                    i += run + 1;
                } else {
                    i += run;  // the quote is read next, as a quote
                }
            } else {
                current.append(run, '\\');
                i += run;
            }
        } else if (c == '"') {
            in_argument = true;
            // Inside quotes, "" is a literal quote and the quoted part goes on.
            if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                current += '"';
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (in_argument) args.push_back(current);
            current.clear();
            in_argument = false;
            ++i;
        } else {
            current += c;
            in_argument = true;
            ++i;
        }
    }
    if (in_argument) args.push_back(current);
    return args;
}

size_t WideLength(std::string_view gbk) {
    size_t length = 0;
    for (size_t i = 0; i < gbk.size(); i += CharWidth936(gbk, i)) ++length;
    return length;
}

}  // namespace cmdline
