// Where each word of the command line stands, found before CLI11 reads it: the command word,
// the options given before it, and which words stand in the places of the command's
// arguments. A word in an argument's place is the script's argument, whatever it looks like:
// one that begins with '-' there is refused with a pointer to "--", never taken as an option
// (so a text "-h" never prints the help and reports success).
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

struct VerbRow;

struct WordPlaces {
    const VerbRow* verb = nullptr;         // the command, when one is named
    std::vector<std::string> parsed;       // the words CLI11 reads
    std::vector<std::string> adb_words;    // adb: every word after the SET, as given
    std::set<std::string> before_command;  // option names given before the command word
    bool json = false;                     // --json stands in an option's place
    std::optional<std::string> problem;    // an option-like word in an argument's place
};

WordPlaces PlaceWords(const std::vector<std::string>& args);
