// Every option of the console companion, one row each: its name and value, its kind and
// range or words, its default, which commands take it, what it needs or excludes, and the
// request field it fills. The parser, the usage lines, the help, the checks and every other
// front end read these rows, so one new option is one row plus the code that uses its field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "farm/command/front_end.h"
#include "farm/command/vm_set.h"

struct FarmRequest;

enum class OptionKind {
    kFlag,     // no value
    kWhole,    // a whole number within [low, high] (or the row's word)
    kDecimal,  // a decimal number within [low, high]
    kText,     // a text that is not empty
    kPath,     // a file or folder on this PC, taken from the caller's current folder
    kChoice,   // one of the row's words
    kVmSet,    // a SET: 3, 101-150, 3,5,101-110, all, running or stopped
};

enum class OptionScope {
    kGlobal,    // every command; before or after the command word
    kSetVerbs,  // every command over a set of VMs (and health)
    kVerbs,     // the commands the row names
};

// One option's value as it was read.
struct OptionValue {
    int64_t whole = 0;
    double decimal = 0;
    std::string text;  // kText, kPath and kChoice; kWhole: the row's word when that was given
    std::optional<VmSet> set;  // kVmSet
};

struct OptionRow {
    const char* name;  // "--timeout"
    OptionKind kind = OptionKind::kFlag;
    const char* value_name = nullptr;  // "MS"; null for a flag
    double low = 0;
    double high = 0;
    const char* what = nullptr;   // numbers: "a whole number of milliseconds"
    const char* words = nullptr;  // kChoice: "7.2.1|7.2.2|none"; kWhole: one word also taken
    // The value when the option is not given, where it has one: a number, or a word of the
    // row's. A command may have its own (VerbRow::defaults).
    std::optional<double> default_number = std::nullopt;
    const char* default_word = nullptr;
    OptionScope scope = OptionScope::kVerbs;
    const char* verbs = nullptr;     // kVerbs: the commands, separated by blanks
    const char* needs = nullptr;     // options one of which must be given with it: "--wait|--boot"
    const char* excludes = nullptr;  // options that cannot be given with it, by '|'
    bool required = false;           // the commands that take it cannot go without it
    const char* replaces = nullptr;  // the argument it stands in for: one of the two is given
    bool overwrites = false;         // giving it makes the command overwrite what is there
    unsigned front_ends = kEveryFrontEnd;
    // The help: "{=}" stands for the row's default.
    const char* help = nullptr;
    void (*store)(FarmRequest& request, const OptionValue& value) = nullptr;
};

const std::vector<OptionRow>& AllOptions();
const OptionRow* FindOption(std::string_view name);
