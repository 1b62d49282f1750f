#include "cli/farm_help.h"

#include <algorithm>

#include "farm/command/grammar.h"

namespace {

constexpr const char* kArgumentsNote =
    "A word in an argument's place is that argument, whatever it looks like: an argument that\n"
    "begins with '-' goes after \"--\" (MEmuFarm text 1 -- -h types -h).\n";

constexpr const char* kSetNote =
    "A SET is 3, 101-150, 3,5,101-110, all, running or stopped. Each VM's result is printed as\n"
    "it finishes; the exit code is 1 when any VM failed.\n";

constexpr const char* kExitCodes =
    "Exit codes:\n"
    "  0  success\n"
    "  1  a tool failed, did not start or reported an error (or its result phrase was\n"
    "     missing); a step of clone failed; a VM of the set failed\n"
    "  2  usage error: a bad or missing argument; nothing was run\n"
    "  3  the emulator was not found (or --install-dir holds no memuc.exe)\n"
    "  4  the deadline passed while a tool was running; the tool is left running\n";

constexpr size_t kWidth = 92;
constexpr size_t kHelpColumn = 24;

// `head`, then `text` from `column` on, its words wrapped at kWidth with every further line
// indented to `column`; a head that reaches the column puts the text on the next line.
std::string Wrapped(std::string head, std::string_view text, size_t column) {
    if (text.empty()) return head + "\n";
    std::string lines;
    std::string line = std::move(head);
    if (line.size() >= column && !text.empty()) {
        lines = line + "\n";
        line.clear();
    }
    line.resize(std::max(line.size(), column), ' ');
    bool first = true;
    while (!text.empty()) {
        const size_t blank = text.find_first_of(" \n");
        const std::string_view word = text.substr(0, blank);
        text = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
        if (word.empty()) continue;
        if (!first && line.size() + 1 + word.size() > kWidth) {
            lines += line + "\n";
            line.assign(column, ' ');
            first = true;
        }
        if (!first) line += ' ';
        line += word;
        first = false;
    }
    return lines + line + "\n";
}

// A usage line wrapped between its parts, never inside "[--watch SECONDS]" or "(APK | -p
// PACKAGE)".
std::string UsageLines(const std::string& head, const std::string& usage) {
    std::string joined = usage;
    int depth = 0;
    for (char& c : joined) {
        if (c == '[' || c == '(') ++depth;
        if (c == ']' || c == ')') --depth;
        if (c == ' ' && depth > 0) c = '\x01';  // no byte of a usage line is 0x01
    }
    std::string lines = Wrapped(head, joined, head.size() + 1);
    std::replace(lines.begin(), lines.end(), '\x01', ' ');
    return lines;
}

// "  --timeout MS          stop waiting ...", one option a paragraph.
std::string OptionLines(const std::vector<const OptionRow*>& options,
                        const VerbRow* verb = nullptr) {
    std::string lines;
    for (const OptionRow* option : options)
        lines +=
            Wrapped("  " + OptionUsage(*option, false), OptionHelp(*option, verb), kHelpColumn);
    return lines;
}

std::string GlobalOptionsHelp() {
    return "Options (before the command, or after its arguments):\n" +
           OptionLines(GlobalOptions()) +
           Wrapped("  --help, -h", "help for the program, or for the command given", kHelpColumn) +
           Wrapped("  --version", "the program's version", kHelpColumn);
}

}  // namespace

std::string CommandUsage(const VerbRow& verb) {
    const std::string usage = VerbUsage(verb);
    return std::string("MEmuFarm ") + verb.name + (usage.empty() ? "" : " " + usage);
}

std::string ProgramHelp(const std::string& version) {
    std::string help = "MEmuFarm " + version +
                       ": scripts a farm of MEmu emulator VMs: lists them, clones a master VM, "
                       "and drives\nmemuc and adb over one VM or a whole set of them.\n\n";
    help += "Usage: MEmuFarm " + GlobalUsage() + " COMMAND [ARGS]\n";
    help += "       MEmuFarm COMMAND --help\n\n";
    help += GlobalOptionsHelp();
    help += "\nCommands:\n";
    for (const VerbRow& verb : AllVerbs()) {
        const std::string name = std::string("  ") + verb.name;
        help += UsageLines(name, VerbUsage(verb));
    }
    help += "\n";
    help += kSetNote;
    help += kArgumentsNote;
    help += "\n";
    help += kExitCodes;
    return help;
}

std::string CommandHelp(const std::string& command) {
    const VerbRow* verb = FindVerb(command);
    if (!verb) return {};
    const std::string usage = std::string("Usage: MEmuFarm ") + verb->name;
    std::string help = UsageLines(usage, VerbUsage(*verb)) + "\n" + VerbAbout(*verb) + "\n";
    const std::vector<const OptionRow*> options = OptionsOf(*verb);
    if (!options.empty())
        help += "\nOptions of " + std::string(verb->name) + ":\n" + OptionLines(options, verb);
    help += '\n';
    help += GlobalOptionsHelp();
    if (verb->kind == VerbKind::kPerVm) {
        help += '\n';
        help += kSetNote;
    }
    help += kArgumentsNote;
    help += "\n";
    help += kExitCodes;
    return help;
}
