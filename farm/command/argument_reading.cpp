#include "farm/command/argument_reading.h"

#include <climits>
#include <vector>

#include "text/gbk_text.h"
#include "text/number_text.h"

namespace {

// "a, b or c".
std::string ChoiceList(const char* words) {
    const std::vector<std::string> items = ListWords(words, '|');
    std::string list;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) list += i + 1 == items.size() ? " or " : ", ";
        list += items[i];
    }
    return list;
}

bool IsWordOf(const char* words, std::string_view text) {
    for (const std::string& word : ListWords(words, '|'))
        if (word == text) return true;
    return false;
}

// A number within the row's range, or nothing.
bool ReadNumber(const OptionRow& option, std::string_view text, OptionValue* value) {
    if (option.kind == OptionKind::kWhole) {
        const std::optional<int64_t> whole = numtext::ParseWhole(
            text, static_cast<int64_t>(option.low), static_cast<int64_t>(option.high));
        if (whole) value->whole = *whole;
        return whole.has_value();
    }
    const std::optional<double> decimal = numtext::ParseDecimal(text, option.low, option.high);
    if (decimal) value->decimal = *decimal;
    return decimal.has_value();
}

}  // namespace

std::optional<std::string> ReadArgument(const VerbRow& verb, const Slot& slot,
                                        const std::string& text, FarmRequest& request) {
    if (slot.kind == SlotKind::kIndex && verb.kind != VerbKind::kOneVm) {
        std::string why;
        request.set = ParseVmSet(text, &why);
        if (!request.set) return why;
    } else if (slot.kind == SlotKind::kIndex) {
        const std::optional<int64_t> index = numtext::ParseWhole(text, 0, INT32_MAX);
        if (!index)
            return std::string(slot.name) + " must be a VM index from 0 to " +
                   numtext::LimitText(INT32_MAX) + ", not " + gbk::Quoted(text);
        VmSet single;
        single.indexes = {static_cast<int32_t>(*index)};
        single.single = true;
        request.set = single;
    } else if (slot.kind == SlotKind::kInt) {
        const std::optional<int64_t> number = numtext::ParseWhole(text, INT32_MIN, INT32_MAX);
        if (!number)
            return std::string(slot.name) + " must be a whole number from " +
                   numtext::LimitText(INT32_MIN) + " to " + numtext::LimitText(INT32_MAX) +
                   ", not " + gbk::Quoted(text);
        request.numbers.push_back(static_cast<int32_t>(*number));
    } else {
        request.texts.push_back(text);  // checked by the slot's rule before anything runs
    }
    return std::nullopt;
}

std::optional<std::string> ReadOptionValue(const OptionRow& option, std::string_view text,
                                           OptionValue* value) {
    const std::string name = option.name;
    switch (option.kind) {
        case OptionKind::kFlag:
            return std::nullopt;
        case OptionKind::kText:
        case OptionKind::kPath:
            if (text.empty()) return name + " needs " + option.what;
            value->text = std::string(text);
            return std::nullopt;
        case OptionKind::kChoice:
            if (!IsWordOf(option.words, text))
                return name + " must be " + ChoiceList(option.words) + ", not " + gbk::Quoted(text);
            value->text = std::string(text);
            return std::nullopt;
        case OptionKind::kVmSet: {
            std::string why;
            value->set = ParseVmSet(text, &why);
            if (!value->set) return name + ": " + why;
            return std::nullopt;
        }
        case OptionKind::kWhole:
        case OptionKind::kDecimal:
            break;
    }
    if (IsWordOf(option.words, text)) {
        value->text = std::string(text);
        return std::nullopt;
    }
    if (ReadNumber(option, text, value)) return std::nullopt;
    std::string range = std::string(option.what) + " from " + numtext::LimitText(option.low) +
                        " to " + numtext::LimitText(option.high);
    if (option.words) range += ", or " + ChoiceList(option.words);
    return name + " must be " + range + ", not " + gbk::Quoted(text);
}

std::optional<std::string> MissingNeed(const VerbRow& verb, const OptionRow& option,
                                       const OptionGiven& given) {
    if (!option.needs) return std::nullopt;
    std::vector<std::string> taken;
    for (const std::string& name : ListWords(option.needs, '|')) {
        const OptionRow* needed = FindOption(name);
        if (!needed || !TakesOption(verb, *needed)) continue;
        if (given(*needed)) return std::nullopt;
        taken.emplace_back(name);
    }
    if (taken.empty()) return std::nullopt;
    std::string message = std::string(option.name) + " needs " + taken.front();
    if (taken.size() > 1) message += " (or " + taken[1] + ")";
    return message;
}

std::optional<std::string> Exclusion(const VerbRow& verb, const OptionRow& option,
                                     const OptionGiven& given) {
    for (const std::string& name : ListWords(option.excludes, '|')) {
        const OptionRow* other = FindOption(name);
        if (other && TakesOption(verb, *other) && given(*other))
            return std::string(option.name) + " cannot be given with " + name;
    }
    return std::nullopt;
}

std::optional<std::string> StandInProblem(const VerbRow& verb, const Slot& slot, bool given,
                                          const OptionGiven& option_given) {
    const OptionRow* option = StandIn(verb, slot);
    if (!option) return std::nullopt;
    const std::string alternative = OptionUsage(*option, false);
    if (given && option_given(*option))
        return "give " + std::string(slot.name) + " or " + alternative + ", not both";
    if (!given && !option_given(*option))
        return "missing " + std::string(slot.name) + " (or " + alternative + ")";
    return std::nullopt;
}
