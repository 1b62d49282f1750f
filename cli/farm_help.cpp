#include "cli/farm_help.h"

#include <algorithm>

#include "farm/option_table.h"
#include "farm/verb_table.h"

namespace {

constexpr const char* kUsageLine =
    "Usage: MEmuFarm [--install-dir DIR] [--json] [--deadline SECONDS] COMMAND [ARGS]\n";

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

// "  --timeout MS        stop waiting ...", continued lines indented under the text.
std::string OptionLines(const std::vector<const OptionRow*>& options) {
    constexpr size_t kColumn = 22;
    std::string lines;
    for (const OptionRow* option : options) {
        std::string head = "  " + OptionUsage(*option, false);
        head.resize(std::max(head.size() + 1, kColumn), ' ');
        std::string help = option->help;
        for (size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1))
            help.insert(at + 1, std::string(kColumn, ' '));
        lines += head + help + "\n";
    }
    return lines;
}

std::string GlobalOptionsHelp() {
    return "Options (before the command, or after its arguments):\n" +
           OptionLines(GlobalOptionRows()) +
           "  --help, -h            help for the program, or for the command given\n"
           "  --version             the program's version\n";
}

}  // namespace

std::string CommandUsage(const VerbRow& verb) {
    const std::string usage = VerbUsage(verb);
    return std::string("MEmuFarm ") + verb.name + (usage.empty() ? "" : " " + usage);
}

std::vector<const OptionRow*> GlobalOptionRows() {
    std::vector<const OptionRow*> options;
    for (const OptionRow& option : AllOptions())
        if (option.scope == OptionScope::kGlobal) options.push_back(&option);
    return options;
}

std::string ProgramHelp(const std::string& version) {
    std::string help = "MEmuFarm " + version +
                       ": scripts a farm of MEmu emulator VMs: lists them, clones a master VM, "
                       "and drives\nmemuc and adb over one VM or a whole set of them.\n\n";
    help += kUsageLine;
    help += "       MEmuFarm COMMAND --help\n\n";
    help += GlobalOptionsHelp();
    help += "\nCommands:\n";
    for (const VerbRow& verb : AllVerbs()) help += "  " + CommandUsage(verb).substr(9) + "\n";
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
    std::string help = "Usage: " + CommandUsage(*verb) + "\n\n" + verb->about + "\n";
    const std::vector<const OptionRow*> options = OptionsOf(*verb);
    if (!options.empty())
        help += "\nOptions of " + std::string(verb->name) + ":\n" + OptionLines(options);
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
