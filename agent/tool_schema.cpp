#include "agent/tool_schema.h"

#include <cmath>

#include "agent/screen_images.h"
#include "text/number_text.h"

namespace agent {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kSchemaDialect = "https://json-schema.org/draft/2020-12/schema";

// What an argument is, for its description: the grammar's rows name options' help; an
// argument has its name and its kind.
std::string ArgumentHelp(const Parameter& parameter) {
    const std::string name = parameter.name;
    switch (parameter.kind) {
        case ParameterKind::kVmSet:
            return "SET: the VMs, as the console writes them: one index (3), a range (101-150), "
                   "a list (3,5,101-110), all, running or stopped";
        case ParameterKind::kVmIndex:
            return name + ": one VM's index";
        case ParameterKind::kWords:
            return name + ": adb's own arguments, each one argument, exactly as given";
        case ParameterKind::kPath:
            return name + ": a file on this PC";
        case ParameterKind::kWhole:
            return name + ": a whole number";
        case ParameterKind::kDecimal:
            return name + ": a decimal number";
        default:
            break;
    }
    std::string help = name + ": a text, exactly as given";
    if (parameter.default_text) help += " (default " + *parameter.default_text + ")";
    return help;
}

// The default as JSON: a number for the numbers, else the text.
Json DefaultValue(const Parameter& parameter) {
    const std::string& text = *parameter.default_text;
    if (parameter.kind == ParameterKind::kWhole || parameter.kind == ParameterKind::kDecimal) {
        const std::optional<double> number = numtext::ParseDecimal(text, -1e300, 1e300);
        if (number) {
            if (parameter.kind == ParameterKind::kWhole || std::floor(*number) == *number)
                return static_cast<int64_t>(*number);
            return *number;
        }
    }
    return text;
}

Json NumberSchema(const Parameter& parameter, const char* type) {
    Json schema = {{"type", type}};
    if (parameter.low) schema["minimum"] = *parameter.low;
    if (parameter.high) schema["maximum"] = *parameter.high;
    if (std::string(type) == "integer") {
        if (parameter.low) schema["minimum"] = static_cast<int64_t>(*parameter.low);
        if (parameter.high) schema["maximum"] = static_cast<int64_t>(*parameter.high);
    }
    return schema;
}

}  // namespace

Json PropertySchema(const Parameter& parameter, const Utf8Of& utf8) {
    Json schema;
    switch (parameter.kind) {
        case ParameterKind::kFlag:
            schema = {{"type", "boolean"}};
            break;
        case ParameterKind::kWhole:
        case ParameterKind::kVmIndex:
            schema = NumberSchema(parameter, "integer");
            if (!parameter.words.empty()) {
                // --first NUMBER|next: the number within its range, or the word.
                schema = {{"anyOf",
                           Json::array({schema, {{"type", "string"}, {"enum", parameter.words}}})}};
            }
            break;
        case ParameterKind::kDecimal:
            schema = NumberSchema(parameter, "number");
            break;
        case ParameterKind::kChoice:
            schema = {{"type", "string"}, {"enum", parameter.words}};
            break;
        case ParameterKind::kWords:
            schema = {{"type", "array"}, {"items", {{"type", "string"}}}, {"minItems", 1}};
            break;
        case ParameterKind::kText:
        case ParameterKind::kPath:
        case ParameterKind::kVmSet:
            schema = {{"type", "string"}};
            break;
    }
    if (parameter.kind == ParameterKind::kFlag) {
        schema["default"] = false;
    } else if (parameter.default_text) {
        schema["default"] = DefaultValue(parameter);
    }
    std::string help =
        parameter.is_option ? parameter.name + ": " + parameter.help : ArgumentHelp(parameter);
    schema["description"] = utf8(help);
    return schema;
}

Json OutputSchema() {
    return {{"type", "object"},
            {"properties",
             {{"ok", {{"type", "boolean"}}},
              {"error",
               {{"type", "object"},
                {"properties",
                 {{"exit_code", {{"type", "integer"}}}, {"message", {{"type", "string"}}}}}}},
              {"results", {{"type", "array"}, {"items", {{"type", "object"}}}}},
              {"counts", {{"type", "object"}}}}},
            {"required", {"ok"}}};
}

Json ToolDefinition(const Tool& tool, const Utf8Of& utf8) {
    const VerbRow& verb = *tool.verb;
    Json properties = Json::object();
    Json required = Json::array();
    for (const Parameter& parameter : tool.parameters) {
        const std::string name = PropertyName(parameter);
        properties[name] = PropertySchema(parameter, utf8);
        if (parameter.required) required.push_back(name);
    }
    if (verb.job == VmJob::kScreenshot) AddScreenProperties(properties);
    Json input = {{"$schema", kSchemaDialect}, {"type", "object"}, {"properties", properties}};
    if (!required.empty()) input["required"] = required;
    input["additionalProperties"] = false;

    std::string description = VerbAbout(verb);
    if (tool.captures_to_temp)
        description +=
            "\nThe screens come back as images; no file is written on the PC (the server was "
            "started without --files).";
    Json annotations = {{"readOnlyHint", verb.effect == Effect::kReadOnly}};
    if (verb.effect != Effect::kReadOnly)
        annotations["destructiveHint"] = verb.effect == Effect::kDestructive;
    annotations["idempotentHint"] = verb.idempotent;
    annotations["openWorldHint"] = false;

    return {{"name", verb.name},
            {"description", utf8(description)},
            {"inputSchema", input},
            {"outputSchema", OutputSchema()},
            {"annotations", annotations}};
}

}  // namespace agent
