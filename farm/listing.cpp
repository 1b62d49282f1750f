#include "farm/listing.h"

#include "control/list_reply.h"

std::string FarmListing::Failure() const {
    if (!step.ok) return step.failure;
    if (!unreadable.empty())
        return std::to_string(unreadable.size()) + " line" + (unreadable.size() == 1 ? "" : "s") +
               " of the listing could not be read";
    return {};
}

FarmListing ListFarm(FarmSystem& system, const ToolFolders& folders, const Deadline& deadline) {
    FarmListing listing;
    listing.step = RunOperationStep(system, folders, Op::kListVms, {}, {0, deadline});
    if (listing.step.run.end != RunEnd::kExited) return listing;
    ListReading reading = ReadListReply(listing.step.run.output);
    listing.unreadable = std::move(reading.unreadable);
    // One process snapshot serves the whole listing, taken only when a listed VM runs.
    std::optional<HeadlessProcessIndex> headless;
    for (VmRecord& vm : reading.vms) {
        if (vm.window >= 1) vm.inner_window = system.WindowWalk(vm.window);
        if (vm.process_id != 0) {
            if (!headless) headless.emplace(system.Processes());
            vm.headless_pid = static_cast<int32_t>(headless->Find(vm.index));
        }
    }
    listing.vms = std::move(reading.vms);
    return listing;
}
