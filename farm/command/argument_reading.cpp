#include "farm/command/argument_reading.h"

#include <climits>
#include <string_view>
#include <vector>

#include "text/number_text.h"
#include "text/gbk_text.h"

namespace {}  // namespace

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

std::optional<std::string> StandInProblem(const VerbRow& verb, const Slot& slot, bool given,
                                          const OptionGiven& option_given) {
    for (const OptionRow* option : OptionsOf(verb)) {
        if (!option->replaces || slot.name != std::string_view(option->replaces)) continue;
        const std::string alternative = OptionUsage(*option, false);
        if (given && option_given(*option))
            return "give " + std::string(slot.name) + " or " + alternative + ", not both";
        if (!given && !option_given(*option))
            return "missing " + std::string(slot.name) + " (or " + alternative + ")";
    }
    return std::nullopt;
}
