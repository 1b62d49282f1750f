// The joins of the verb and option rows, in one place: which command takes which option, the
// arguments of a command, its defaults, its usage and its help texts; and the whole grammar as
// data, a parameter list per command, for every front end (the console's parser and help,
// an agent's tool schemas, a web service's checks).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/operations.h"
#include "farm/command/option_rows.h"
#include "farm/command/request.h"
#include "farm/command/verb_rows.h"

// The words of one of a row's lists ("start stop reboot" by ' ', "--wait|--boot" by '|').
std::vector<std::string> ListWords(const char* list, char separator);

// True when the command takes the option (global options included).
bool TakesOption(const VerbRow& verb, const OptionRow& option);
// The options of the command itself, in table order (no global ones).
std::vector<const OptionRow*> OptionsOf(const VerbRow& verb);
// The options every command takes, in table order.
std::vector<const OptionRow*> GlobalOptions();
// A command that takes the option, for a message about where it goes ("COMMAND" for none).
std::string CommandTaking(const OptionRow& option);

// The arguments after the command word, in order: for kPerVm the first is the SET (kind
// kIndex), for kOneVm the INDEX; then the operation's own.
std::vector<Slot> VerbArguments(const VerbRow& verb);
// True when the command can go without the argument: health's SET (then all VMs), an
// argument with a default (create's TYPE), one an option stands in for (install's APK).
bool ArgumentIsOptional(const VerbRow& verb, const Slot& slot);
// The option that stands in for the argument (install's -p for APK), if any.
const OptionRow* StandIn(const VerbRow& verb, const Slot& slot);

// The option's default for the command, as help shows it ("180", "none"), if it has one.
std::optional<std::string> DefaultText(const VerbRow* verb, const OptionRow& option);

// A new request for the command, holding every default its options have.
FarmRequest NewRequest(const VerbRow& verb);
// The operation the request runs: install with -p installs by package name.
Op OperationOf(const FarmRequest& request);
// The slots the request's texts fill, in the order of FarmRequest::texts.
std::vector<Slot> TextSlots(const FarmRequest& request);

// "--timeout MS", "--wait"; with `brackets`, "[--timeout MS]".
std::string OptionUsage(const OptionRow& option, bool brackets);
// The one line of usage after the command word: its arguments, then its options.
std::string VerbUsage(const VerbRow& verb);
// The global options' usage: "[--install-dir DIR] [--json] [--deadline SECONDS]".
std::string GlobalUsage();
// The help texts with their defaults filled in; an option's as it means for `verb` (its own
// meaning for the command, else its row's).
std::string OptionHelp(const OptionRow& option, const VerbRow* verb = nullptr);
std::string VerbAbout(const VerbRow& verb);

// --- The grammar as data ---------------------------------------------------------------------

enum class ParameterKind {
    kFlag,
    kWhole,
    kDecimal,
    kText,
    kPath,
    kChoice,
    kVmSet,    // SET
    kVmIndex,  // one VM's INDEX
    kWords,    // every remaining word (adb's ARGS)
};

// One argument or option of a command.
struct Parameter {
    std::string name;  // "SET", "--timeout"
    ParameterKind kind = ParameterKind::kText;
    bool is_option = false;
    bool required = false;
    std::optional<double> low;  // numbers
    std::optional<double> high;
    std::vector<std::string> words;  // kChoice: every word; kWhole: a word also taken
    std::optional<std::string> default_text;
    std::string help;
    const OptionRow* option = nullptr;  // options
    std::optional<Slot> slot;           // arguments
};

struct VerbDescription {
    const VerbRow* verb = nullptr;
    std::vector<Parameter> parameters;  // the arguments in order, then the command's options
};

// Every command a front end offers, with the parameters it offers: global options are left
// to the front end, which knows which of them it has.
std::vector<VerbDescription> DescribeGrammar(unsigned front_end);
