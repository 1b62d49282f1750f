#include "farm/command/request_check.h"

#include <climits>

#include "cloning/clone_commands.h"
#include "farm/command/grammar.h"
#include "text/gbk_text.h"

namespace {

bool UsesAdb(const FarmRequest& request) {
    return RowOf(request.verb->op).tool == Tool::kAdb || request.boot;
}

std::optional<std::string> CloneProblem(const FarmRequest& request) {
    if (request.first_next) return std::nullopt;  // numbered from the listing, checked there
    if (!CloneNumbersFit(request.first, request.count))
        return "--first " + gbk::Decimal(request.first) + " with --count " +
               gbk::Decimal(request.count) + " would number clones beyond " +
               gbk::Decimal(kLastCloneNumber);
    if (request.randomize && request.first + request.count - 1 > INT32_MAX)
        return std::string(
            "--randomize needs clone numbers up to 2147483647, the highest VM index");
    return std::nullopt;
}

}  // namespace

std::optional<std::string> IndexProblem(const FarmRequest& request, int32_t index) {
    if (UsesAdb(request) && index > kLastAdbIndex)
        return "VM " + gbk::Decimal(index) + " has no adb port: " + gbk::Decimal(kFirstAdbPort) +
               " + " + gbk::Decimal(kAdbPortStep) + " x " + gbk::Decimal(index) + " is beyond " +
               gbk::Decimal(kLastPort);
    return std::nullopt;
}

std::optional<std::string> RequestProblem(const FarmRequest& request) {
    if (request.verb->kind == VerbKind::kClone) return CloneProblem(request);
    const std::vector<Slot> slots = TextSlots(request);
    for (size_t i = 0; i < slots.size() && i < request.texts.size(); ++i) {
        if (slots[i].kind == SlotKind::kArgs) break;
        if (std::optional<std::string> problem = TextProblem(slots[i], request.texts[i]))
            return std::string(slots[i].name) + " " + *problem;
    }
    if (request.set && !request.set->NeedsListing()) {
        for (int32_t index : request.set->indexes)
            if (std::optional<std::string> problem = IndexProblem(request, index)) return problem;
    }
    return std::nullopt;
}
