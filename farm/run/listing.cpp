#include "farm/run/listing.h"

#include "control/list_reply.h"
#include "farm/command/request.h"

std::string FarmListing::Failure() const {
    if (!step.ok) return step.failure;
    if (!unreadable.empty())
        return std::to_string(unreadable.size()) + " line" + (unreadable.size() == 1 ? "" : "s") +
               " of the listing could not be read";
    return {};
}

int FarmListing::ExitCode() const {
    if (ok()) return 0;
    return step.run.end == RunEnd::kAbandoned ? kExitDeadline : kExitFailed;
}

FarmListing ListFarm(FarmSystem& system, const ToolFolders& folders, const Deadline& deadline,
                     ListDetail detail) {
    FarmListing listing;
    listing.step = RunOperationStep(system, folders, Op::kListVms, {}, {0, deadline});
    if (listing.step.run.end != RunEnd::kExited) return listing;
    ListReading reading = ReadListReply(listing.step.run.output);
    listing.unreadable = std::move(reading.unreadable);
    if (detail == ListDetail::kReplyOnly) {
        listing.vms = std::move(reading.vms);
        return listing;
    }
    ListedVmCompleter completer([&system](int32_t window) { return system.WindowWalk(window); },
                                system.Processes());
    for (VmRecord& vm : reading.vms) completer.Complete(vm);
    listing.vms = std::move(reading.vms);
    return listing;
}
