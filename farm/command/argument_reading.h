// How the words of a command line become a request, by the command's and the options' rows:
// an argument read by its slot, an option's value by its kind and range, an option's needs
// and exclusions, an argument that an option stands in for. Each message names the argument
// or option; the caller adds the usage.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "control/operations.h"
#include "farm/command/grammar.h"

// Whether the command line gives the option.
using OptionGiven = std::function<bool(const OptionRow& option)>;

// Reads one argument into the request: the VMs (a set, or one index), a number, or a text
// exactly as given.
std::optional<std::string> ReadArgument(const VerbRow& verb, const Slot& slot,
                                        const std::string& text, FarmRequest& request);

// Reads the option's value, or says why it cannot: "--parallel must be a whole number from 1
// to 64, not '0'".
std::optional<std::string> ReadOptionValue(const OptionRow& option, std::string_view text,
                                           OptionValue* value);

// "--timeout needs --wait (or --boot)" when none of the options the option needs, among those
// the command takes, is given.
std::optional<std::string> MissingNeed(const VerbRow& verb, const OptionRow& option,
                                       const OptionGiven& given);
// "--a cannot be given with --b" when an option it excludes is given too.
std::optional<std::string> Exclusion(const VerbRow& verb, const OptionRow& option,
                                     const OptionGiven& given);

// An argument that an option stands in for (install's APK and -p): one of the two is given,
// not both.
std::optional<std::string> StandInProblem(const VerbRow& verb, const Slot& slot, bool given,
                                          const OptionGiven& option_given);
