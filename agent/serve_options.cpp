#include "agent/serve_options.h"

#include "agent/tool_catalog.h"
#include "farm/command/grammar.h"
#include "text/gbk_text.h"

namespace agent {

std::string VmSetText(const VmSet& set) {
    switch (set.kind) {
        case VmSet::Kind::kAll:
            return "all";
        case VmSet::Kind::kRunning:
            return "running";
        case VmSet::Kind::kStopped:
            return "stopped";
        case VmSet::Kind::kIndexes:
            break;
    }
    std::string text;
    for (int32_t index : set.indexes) {
        if (!text.empty()) text += ',';
        text += gbk::Decimal(index);
    }
    return text;
}

std::optional<HostOptions> ServeOptions(const FarmRequest& request, std::string* problem) {
    HostOptions options;
    options.parallel = request.parallel;
    if (request.deadline_ms) options.deadline_s = *request.deadline_ms / 1000.0;
    options.limits.read_only = request.read_only;
    if (request.mcp_vms) {
        options.limits.vms = request.mcp_vms;
        options.limits.vms_text = VmSetText(*request.mcp_vms);
    }
    if (request.mcp_files) {
        std::string folder = *request.mcp_files;
        while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/'))
            folder.pop_back();
        if (folder.size() == 3 && folder[1] == ':') folder.pop_back();  // "C:\" is "C:"
        options.limits.files = folder;
    }
    if (request.mcp_tools) {
        std::set<std::string> names;
        OwnerLimits every;
        every.files = "C:";  // every tool there is
        for (const std::string& name : gbk::Split(*request.mcp_tools, ",")) {
            const std::string trimmed = gbk::Trim(name);
            if (!FindTool(every, trimmed)) {
                *problem = "--tools: " + gbk::Quoted(trimmed) + " is no tool (the tools are " +
                           "the commands of MEmuFarm --help but mcp)";
                return std::nullopt;
            }
            names.insert(trimmed);
        }
        options.limits.tools = std::move(names);
    }
    return options;
}

}  // namespace agent
