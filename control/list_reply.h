// Reading the reply of the tool's list command ("memuc listvms").
//
// The reply holds one VM per line, lines ending in CR LF, fields separated by commas:
// index, title, window handle, started flag, process id. Cuts respect GBK two-byte characters,
// so a title whose trail byte is ',' or '\r' stays whole.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/vm_record.h"
#include "process/instance_scanner.h"

using ListFields = std::vector<std::string>;

// Every line of the reply cut into its fields, in reply order. Empty pieces between separators
// count; an empty piece after a final separator does not; an empty line has no fields.
std::vector<ListFields> SplitListReply(std::string_view reply);

// Field 3 (the window handle) of a line with at least three fields, read as an integer.
int32_t ListedWindow(const ListFields& fields);

// A record from the first five fields of a line (the caller makes sure there are five):
// index, title untrimmed, window, started (false only for exactly "0"), process id. The
// looked-up fields (inner window, headless process) stay 0.
VmRecord RecordFromFields(const ListFields& fields);

// The console companion's reading of the same reply, which never drops a VM unsaid: lines end
// at LF (a CR before it is dropped); a line with more than five fields is read as the index,
// the title (every field up to the last three, joined by commas again, since a title may hold
// commas) and the last three fields. A line whose index, window, started flag or process id is
// not a whole number, or that has fewer than five fields, is unreadable and kept as it was.
// Empty lines are no VMs and are passed over.
struct ListReading {
    std::vector<VmRecord> vms;
    std::vector<std::string> unreadable;
};
ListReading ReadListReply(std::string_view reply);

// Fills in what a listed VM's line does not say: the inner window, from the window walk of its
// listed window, and its headless process. One process snapshot serves the whole listing,
// taken only when a listed VM runs.
class ListedVmCompleter {
public:
    ListedVmCompleter(std::function<int32_t(int32_t)> window_walk, ProcessSource& processes)
        : window_walk_(std::move(window_walk)), processes_(processes) {}
    void Complete(VmRecord& record);

private:
    std::function<int32_t(int32_t)> window_walk_;
    ProcessSource& processes_;
    std::optional<HeadlessProcessIndex> headless_;
};
