#include "cli/word_places.h"

#include <limits>

#include "farm/command/option_rows.h"
#include "farm/command/verb_rows.h"
#include "text/number_text.h"

namespace {

bool LooksLikeOption(const std::string& word) {
    return word.size() > 1 && word[0] == '-';
}

std::string NameOf(const std::string& word) {
    return word.substr(0, word.find('='));
}

bool IsNumberSlot(const Slot& slot) {
    return slot.kind == SlotKind::kIndex || slot.kind == SlotKind::kInt ||
           slot.kind == SlotKind::kLongitude || slot.kind == SlotKind::kLatitude;
}

bool IsNumber(const std::string& word) {
    constexpr double kAny = std::numeric_limits<double>::max();
    return numtext::ParseDecimal(word, -kAny, kAny).has_value();
}

// True when the option's value is the next word ("--timeout 5", not "--timeout=5").
bool ValueFollows(const std::string& word) {
    const OptionRow* option = FindOption(NameOf(word));
    return option && option->value_name && word.find('=') == std::string::npos;
}

std::string InArgumentPlace(const VerbRow& verb, const Slot& slot, const std::string& word) {
    return "'" + word + "' stands where " + slot.name + " goes: to pass it as " + slot.name +
           ", put -- before it (MEmuFarm " + verb.name + " ... -- " + word +
           "); options go after the arguments or before the command";
}

}  // namespace

WordPlaces PlaceWords(const std::vector<std::string>& args) {
    WordPlaces places;
    size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::string& word = args[i];
        places.parsed.push_back(word);
        if (word == "--") return places;
        if (!LooksLikeOption(word)) {
            places.verb = FindVerb(word);
            break;
        }
        places.before_command.insert(NameOf(word));
        if (NameOf(word) == "--json") places.json = true;
        if (ValueFollows(word) && i + 1 < args.size()) places.parsed.push_back(args[++i]);
    }
    if (!places.verb) {
        places.parsed.insert(places.parsed.end(), args.begin() + std::min(i + 1, args.size()),
                             args.end());
        return places;
    }
    const VerbRow& verb = *places.verb;
    const std::vector<Slot> slots = VerbArguments(verb);
    size_t filled = 0;
    bool after_dashes = false;
    for (++i; i < args.size(); ++i) {
        const std::string& word = args[i];
        const Slot* slot = filled < slots.size() ? &slots[filled] : nullptr;
        if (slot && slot->kind == SlotKind::kArgs) {
            places.adb_words.assign(args.begin() + i, args.end());
            break;
        }
        places.parsed.push_back(word);
        if (after_dashes) {
            ++filled;
            continue;
        }
        if (word == "--") {
            after_dashes = true;
            if (i + 1 == args.size() && slot && !places.problem)
                places.problem = "-- is not followed by " + std::string(slot->name);
            continue;
        }
        if (!LooksLikeOption(word) || (slot && IsNumberSlot(*slot) && IsNumber(word))) {
            ++filled;
            continue;
        }
        const OptionRow* option = FindOption(NameOf(word));
        if (slot && slot->kind != SlotKind::kIndex) {
            // An argument's place; only an option of the command itself may stand there, and
            // only where the argument may be left out (install SET -p PACKAGE).
            const bool own = option && option->scope != OptionScope::kGlobal &&
                             TakesOption(verb, *option) && ArgumentIsOptional(verb, *slot);
            if (!own) {
                if (!places.problem) places.problem = InArgumentPlace(verb, *slot, word);
                continue;
            }
        }
        if (NameOf(word) == "--json") places.json = true;
        if (ValueFollows(word) && i + 1 < args.size()) places.parsed.push_back(args[++i]);
    }
    return places;
}
