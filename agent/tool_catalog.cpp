#include "agent/tool_catalog.h"

#include <cctype>

namespace agent {

namespace {

// A global option as a parameter of every tool, read from its row as the grammar reads the
// command's own.
Parameter GlobalParameter(const OptionRow& option) {
    Parameter parameter;
    parameter.name = option.name;
    parameter.is_option = true;
    parameter.option = &option;
    switch (option.kind) {
        case OptionKind::kFlag:
            parameter.kind = ParameterKind::kFlag;
            break;
        case OptionKind::kWhole:
            parameter.kind = ParameterKind::kWhole;
            break;
        case OptionKind::kDecimal:
            parameter.kind = ParameterKind::kDecimal;
            break;
        case OptionKind::kChoice:
            parameter.kind = ParameterKind::kChoice;
            break;
        case OptionKind::kVmSet:
            parameter.kind = ParameterKind::kVmSet;
            break;
        case OptionKind::kText:
            parameter.kind = ParameterKind::kText;
            break;
        case OptionKind::kPath:
            parameter.kind = ParameterKind::kPath;
            break;
    }
    if (option.kind == OptionKind::kWhole || option.kind == OptionKind::kDecimal) {
        parameter.low = option.low;
        parameter.high = option.high;
    }
    parameter.words = ListWords(option.words, '|');
    parameter.default_text = DefaultText(nullptr, option);
    parameter.help = OptionHelp(option);
    return parameter;
}

bool Allowed(const OwnerLimits& limits, const VerbRow& verb) {
    return !WhyHeldBack(limits, verb);
}

}  // namespace

std::optional<std::string> WhyHeldBack(const OwnerLimits& limits, const VerbRow& verb) {
    const std::string name = verb.name;
    if (limits.read_only && verb.effect != Effect::kReadOnly)
        return name + " changes the farm and this server only asks (--read-only)";
    if (limits.tools && !limits.tools->count(verb.name))
        return name + " is not among the commands this server runs (--tools)";
    if (limits.vms && verb.leaves_set)
        return name + " reaches past the VMs this server may act on (--vms " + limits.vms_text +
               ")";
    return std::nullopt;
}

std::string PropertyName(const Parameter& parameter) {
    std::string name = parameter.name;
    if (parameter.is_option && parameter.option && name.rfind("--", 0) != 0 &&
        parameter.option->value_name)
        name = parameter.option->value_name;  // -p PACKAGE
    std::string property;
    for (char c : name) {
        if (c == '.') break;  // FILE.ova
        if (c == '-') {
            if (!property.empty()) property += '_';
            continue;
        }
        property += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return property;
}

bool NamesLocalFile(const Parameter& parameter) {
    return parameter.kind == ParameterKind::kPath;
}

bool WritesLocalFile(const VerbRow& verb, const Parameter& parameter) {
    if (!NamesLocalFile(parameter)) return false;
    if (parameter.is_option) return parameter.option && parameter.option->overwrites;
    return verb.writes_file;
}

std::vector<Tool> OfferedTools(const OwnerLimits& limits) {
    std::vector<Parameter> globals;
    for (const OptionRow* option : GlobalOptions())
        if (option->front_ends & kMcpFrontEnd) globals.push_back(GlobalParameter(*option));
    std::vector<Tool> tools;
    for (VerbDescription& described : DescribeGrammar(kMcpFrontEnd)) {
        const VerbRow& verb = *described.verb;
        if (!Allowed(limits, verb)) continue;
        Tool tool;
        tool.verb = &verb;
        bool offered = true;
        for (Parameter& parameter : described.parameters) {
            if (!limits.files && WritesLocalFile(verb, parameter)) {
                if (verb.job == VmJob::kScreenshot) {
                    tool.captures_to_temp = true;
                } else if (parameter.required) {
                    offered = false;  // export: nowhere to write
                }
                continue;
            }
            tool.parameters.push_back(std::move(parameter));
        }
        if (!offered) continue;
        for (const Parameter& parameter : globals) tool.parameters.push_back(parameter);
        tools.push_back(std::move(tool));
    }
    return tools;
}

std::optional<Tool> FindTool(const OwnerLimits& limits, std::string_view name) {
    for (Tool& tool : OfferedTools(limits))
        if (name == tool.verb->name) return std::move(tool);
    return std::nullopt;
}

}  // namespace agent
