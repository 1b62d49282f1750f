// Every option of the console companion, one row each: its name and value, how the value is
// read and within what range, which commands take it, what it needs, and the request field
// it fills. The argument parser, the usage lines, the help and the checks all read these
// rows, so one new option is one row plus the code that uses its field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct FarmRequest;
struct VerbRow;

enum class OptionForm {
    kFlag,     // no value
    kWhole,    // a whole number within [low, high] (or the row's word)
    kDecimal,  // a decimal number within [low, high]
    kText,     // a text that is not empty
    kChoice,   // one of the row's words
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
    std::string text;  // kText and kChoice; kWhole: the row's word when that was given
};

struct OptionRow {
    const char* name;        // "--timeout"
    const char* value_name;  // "MS"; null for a flag
    OptionForm form;
    double low;
    double high;
    const char* what;   // numbers: "a whole number of milliseconds"
    const char* words;  // kChoice: "7.2.1|7.2.2|none"; kWhole: one word also taken ("next")
    OptionScope scope;
    const char* verbs;     // kVerbs: the commands, separated by blanks
    const char* needs;     // another option that must be given with it ("--wait|--boot": either)
    bool required;         // the commands that take it cannot go without it
    const char* replaces;  // the argument it stands in for: one of the two is given ("APK")
    const char* help;
    void (*store)(FarmRequest& request, const OptionValue& value);
};

const std::vector<OptionRow>& AllOptions();

// The words of one of a row's lists ("start stop reboot" by ' ', "--wait|--boot" by '|').
std::vector<std::string> ListWords(const char* list, char separator);
const OptionRow* FindOption(std::string_view name);

// True when the command takes the option (global options included).
bool TakesOption(const VerbRow& verb, const OptionRow& option);
// The options of the command itself, in table order (no global ones).
std::vector<const OptionRow*> OptionsOf(const VerbRow& verb);

// Reads the option's value, or says why it cannot: "--parallel must be a whole number from 1
// to 64, not '0'".
std::optional<std::string> ReadOptionValue(const OptionRow& option, std::string_view text,
                                           OptionValue* value);

// "--timeout MS", "--wait"; with `brackets`, "[--timeout MS]".
std::string OptionUsage(const OptionRow& option, bool brackets);

// The one line of usage after the command word: its arguments, then its options.
std::string VerbUsage(const VerbRow& verb);

// The longest wait the system's millisecond timers take, in seconds.
inline constexpr double kLongestSeconds = 2147483.0;
// More clones than any one PC runs: a larger count is a mistake, and a dry run of it would
// only fill the memory with lines.
inline constexpr int64_t kMostClones = 100000;
