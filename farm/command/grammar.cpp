#include "farm/command/grammar.h"

#include <climits>

#include "text/gbk_text.h"
#include "text/number_text.h"

namespace {

bool IsWordOf(const char* list, char separator, std::string_view word) {
    for (const std::string& item : ListWords(list, separator))
        if (item == word) return true;
    return false;
}

// The value of the option's default for the command: its own, or the row's.
std::optional<OptionValue> DefaultValue(const VerbRow* verb, const OptionRow& option) {
    OptionValue value;
    if (option.default_word) {
        value.text = option.default_word;
        return value;
    }
    std::optional<double> number = option.default_number;
    if (verb)
        for (const OptionDefault& own : verb->defaults)
            if (option.name == std::string_view(own.option)) number = own.value;
    if (!number) return std::nullopt;
    value.whole = static_cast<int64_t>(*number);
    value.decimal = *number;
    return value;
}

// `text` with "{=NAME}" replaced by the default of the command's option or argument NAME,
// and "{=}" by `own`'s.
std::string FillDefaults(const VerbRow* verb, const OptionRow* own, std::string_view text) {
    std::string filled;
    for (;;) {
        const size_t open = text.find("{=");
        const size_t close = open == std::string_view::npos ? open : text.find('}', open);
        if (close == std::string_view::npos) return filled + std::string(text);
        filled += text.substr(0, open);
        const std::string_view name = text.substr(open + 2, close - open - 2);
        const OptionRow* option = name.empty() ? own : FindOption(name);
        std::optional<std::string> value;
        if (option) value = DefaultText(verb, *option);
        if (!option && verb)
            for (const Slot& slot : VerbArguments(*verb))
                if (slot.if_empty && name == slot.name) value = slot.if_empty;
        filled += value.value_or("?");
        text.remove_prefix(close + 1);
    }
}

ParameterKind KindOfOption(OptionKind kind) {
    switch (kind) {
        case OptionKind::kFlag:
            return ParameterKind::kFlag;
        case OptionKind::kWhole:
            return ParameterKind::kWhole;
        case OptionKind::kDecimal:
            return ParameterKind::kDecimal;
        case OptionKind::kText:
            return ParameterKind::kText;
        case OptionKind::kPath:
            return ParameterKind::kPath;
        case OptionKind::kChoice:
            return ParameterKind::kChoice;
        case OptionKind::kVmSet:
            return ParameterKind::kVmSet;
    }
    return ParameterKind::kText;
}

Parameter ArgumentParameter(const VerbRow& verb, const Slot& slot) {
    Parameter parameter;
    parameter.name = slot.name;
    parameter.slot = slot;
    parameter.required = !ArgumentIsOptional(verb, slot);
    if (slot.if_empty) parameter.default_text = slot.if_empty;
    switch (slot.kind) {
        case SlotKind::kIndex:
            parameter.kind =
                verb.kind == VerbKind::kOneVm ? ParameterKind::kVmIndex : ParameterKind::kVmSet;
            if (parameter.kind == ParameterKind::kVmIndex) {
                parameter.low = 0;
                parameter.high = INT32_MAX;
            }
            break;
        case SlotKind::kInt:
            parameter.kind = ParameterKind::kWhole;
            parameter.low = INT32_MIN;
            parameter.high = INT32_MAX;
            break;
        case SlotKind::kLongitude:
        case SlotKind::kLatitude:
            parameter.kind = ParameterKind::kDecimal;
            parameter.high = slot.kind == SlotKind::kLongitude ? 180 : 90;
            parameter.low = -*parameter.high;
            break;
        case SlotKind::kLocalPath:
            parameter.kind = ParameterKind::kPath;
            break;
        case SlotKind::kArgs:
            parameter.kind = ParameterKind::kWords;
            break;
        default:
            parameter.kind = ParameterKind::kText;
            break;
    }
    return parameter;
}

Parameter OptionParameter(const VerbRow& verb, const OptionRow& option) {
    Parameter parameter;
    parameter.name = option.name;
    parameter.kind = KindOfOption(option.kind);
    parameter.is_option = true;
    parameter.required = option.required;
    parameter.option = &option;
    if (option.kind == OptionKind::kWhole || option.kind == OptionKind::kDecimal) {
        parameter.low = option.low;
        parameter.high = option.high;
    }
    parameter.words = ListWords(option.words, '|');
    parameter.default_text = DefaultText(&verb, option);
    parameter.help = OptionHelp(option, &verb);
    return parameter;
}

}  // namespace

std::vector<std::string> ListWords(const char* list, char separator) {
    return gbk::Split(list ? list : "", std::string(1, separator));
}

bool TakesOption(const VerbRow& verb, const OptionRow& option) {
    switch (option.scope) {
        case OptionScope::kGlobal:
            return true;
        case OptionScope::kSetVerbs:
            return verb.kind == VerbKind::kPerVm || verb.kind == VerbKind::kHealth ||
                   IsWordOf(option.verbs, ' ', verb.name);
        case OptionScope::kVerbs:
            return IsWordOf(option.verbs, ' ', verb.name);
    }
    return false;
}

std::vector<const OptionRow*> OptionsOf(const VerbRow& verb) {
    std::vector<const OptionRow*> options;
    for (const OptionRow& row : AllOptions())
        if (row.scope != OptionScope::kGlobal && TakesOption(verb, row)) options.push_back(&row);
    return options;
}

std::vector<const OptionRow*> GlobalOptions() {
    std::vector<const OptionRow*> options;
    for (const OptionRow& option : AllOptions())
        if (option.scope == OptionScope::kGlobal) options.push_back(&option);
    return options;
}

std::string CommandTaking(const OptionRow& option) {
    for (const VerbRow& verb : AllVerbs())
        if (TakesOption(verb, option)) return verb.name;
    return "COMMAND";
}

std::vector<Slot> VerbArguments(const VerbRow& verb) {
    std::vector<Slot> slots;
    if (verb.kind == VerbKind::kList || verb.kind == VerbKind::kClone) return slots;
    if (verb.kind == VerbKind::kPerVm || verb.kind == VerbKind::kHealth)
        slots.push_back({"SET", SlotKind::kIndex});
    if (verb.kind == VerbKind::kHealth) return slots;
    if (verb.kind == VerbKind::kOneVm) slots.push_back({"INDEX", SlotKind::kIndex});
    for (const Slot& slot : RowOf(verb.op).slots) {
        if (!slot.name || slot.kind == SlotKind::kIndex || slot.kind == SlotKind::kDeviceFile)
            continue;
        slots.push_back(slot);
    }
    return slots;
}

const OptionRow* StandIn(const VerbRow& verb, const Slot& slot) {
    for (const OptionRow* option : OptionsOf(verb))
        if (option->replaces && std::string_view(option->replaces) == slot.name) return option;
    return nullptr;
}

bool ArgumentIsOptional(const VerbRow& verb, const Slot& slot) {
    return verb.kind == VerbKind::kHealth || slot.if_empty || StandIn(verb, slot);
}

std::optional<std::string> DefaultText(const VerbRow* verb, const OptionRow& option) {
    const std::optional<OptionValue> value = DefaultValue(verb, option);
    if (!value) return std::nullopt;
    if (option.default_word) return value->text;
    return numtext::LimitText(value->decimal);
}

FarmRequest NewRequest(const VerbRow& verb) {
    FarmRequest request;
    request.verb = &verb;
    for (const OptionRow& option : AllOptions())
        if (TakesOption(verb, option))
            if (const std::optional<OptionValue> value = DefaultValue(&verb, option))
                option.store(request, *value);
    return request;
}

Op OperationOf(const FarmRequest& request) {
    if (request.verb->op == Op::kInstallApk) return InstallOperation(request.by_package);
    return request.verb->op;
}

std::vector<Slot> TextSlots(const FarmRequest& request) {
    const Op op = OperationOf(request);
    std::vector<Slot> arguments = VerbArguments(*request.verb);
    if (op != request.verb->op) arguments = {{"SET", SlotKind::kIndex}, RowOf(op).slots[1]};
    std::vector<Slot> slots;
    for (const Slot& slot : arguments)
        if (slot.kind != SlotKind::kIndex && slot.kind != SlotKind::kInt) slots.push_back(slot);
    return slots;
}

std::string OptionUsage(const OptionRow& option, bool brackets) {
    std::string usage = option.name;
    if (option.value_name) usage += std::string(" ") + option.value_name;
    return brackets ? "[" + usage + "]" : usage;
}

std::string VerbUsage(const VerbRow& verb) {
    std::string usage;
    auto add = [&usage](const std::string& part) {
        if (!usage.empty()) usage += ' ';
        usage += part;
    };
    for (const Slot& slot : VerbArguments(verb)) {
        if (const OptionRow* instead = StandIn(verb, slot)) {
            add(std::string("(") + slot.name + " | " + OptionUsage(*instead, false) + ")");
        } else if (slot.kind == SlotKind::kArgs) {
            add(std::string(slot.name) + "...");
        } else if (ArgumentIsOptional(verb, slot)) {
            add(std::string("[") + slot.name + "]");
        } else {
            add(slot.name);
        }
    }
    for (const OptionRow* option : OptionsOf(verb))
        if (!option->replaces) add(OptionUsage(*option, !option->required));
    return usage;
}

std::string GlobalUsage() {
    std::string usage;
    for (const OptionRow* option : GlobalOptions()) {
        if (!usage.empty()) usage += ' ';
        usage += OptionUsage(*option, true);
    }
    return usage;
}

std::string OptionHelp(const OptionRow& option, const VerbRow* verb) {
    if (verb)
        for (const OptionMeaning& meaning : verb->meanings)
            if (std::string_view(meaning.option) == option.name)
                return FillDefaults(verb, &option, meaning.help);
    return FillDefaults(verb, &option, option.help ? option.help : "");
}

std::string VerbAbout(const VerbRow& verb) {
    return FillDefaults(&verb, nullptr, verb.about);
}

std::vector<VerbDescription> DescribeGrammar(unsigned front_end) {
    std::vector<VerbDescription> described;
    for (const VerbRow& verb : AllVerbs()) {
        if (!(verb.front_ends & front_end)) continue;
        VerbDescription description;
        description.verb = &verb;
        for (const Slot& slot : VerbArguments(verb))
            description.parameters.push_back(ArgumentParameter(verb, slot));
        for (const OptionRow* option : OptionsOf(verb))
            if (option->front_ends & front_end)
                description.parameters.push_back(OptionParameter(verb, *option));
        described.push_back(std::move(description));
    }
    return described;
}
