#include "farm/command/vm_set.h"
#include "text/gbk_text.h"
#include "text/number_text.h"

#include <climits>

#include <algorithm>
#include <set>

namespace {

// A VM index: decimal digits, at most 2147483647 (a range's parts never hold a '-').
std::optional<int32_t> IndexOf(std::string_view text) {
    const std::optional<int64_t> index = numtext::ParseWhole(text, 0, INT32_MAX);
    if (!index) return std::nullopt;
    return static_cast<int32_t>(*index);
}

}  // namespace

std::optional<VmSet> ParseVmSet(std::string_view text, std::string* error) {
    VmSet set;
    if (text == "all" || text == "running" || text == "stopped") {
        set.kind = text == "all"       ? VmSet::Kind::kAll
                   : text == "running" ? VmSet::Kind::kRunning
                                       : VmSet::Kind::kStopped;
        return set;
    }
    auto fail = [&](const std::string& why) -> std::optional<VmSet> {
        *error = "SET " + gbk::Quoted(text) + " " + why;
        return std::nullopt;
    };
    if (text.empty()) return fail("is empty");
    std::set<int32_t> seen;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view part = text.substr(start, comma - start);
        const size_t dash = part.find('-');
        const std::optional<int32_t> low = IndexOf(part.substr(0, dash));
        const std::optional<int32_t> high =
            dash == std::string_view::npos ? low : IndexOf(part.substr(dash + 1));
        if (!low || !high)
            return fail(
                "is not a VM index, a range FIRST-LAST, a comma-separated list of "
                "them, all, running or stopped");
        if (*high < *low) return fail("holds the reversed range " + std::string(part));
        if (static_cast<int64_t>(*high) - *low >= static_cast<int64_t>(kMostVmsInSet))
            return fail("names more than " + std::to_string(kMostVmsInSet) + " VMs");
        for (int64_t index = *low; index <= *high; ++index) {
            if (seen.insert(static_cast<int32_t>(index)).second)
                set.indexes.push_back(static_cast<int32_t>(index));
            if (set.indexes.size() > kMostVmsInSet)
                return fail("names more than " + std::to_string(kMostVmsInSet) + " VMs");
        }
        start = comma + 1;
    }
    set.single = text.find_first_of(",-") == std::string_view::npos;
    return set;
}

std::vector<int32_t> ResolveVmSet(const VmSet& set, const std::vector<VmRecord>& listed) {
    if (set.kind == VmSet::Kind::kIndexes) return set.indexes;
    std::vector<int32_t> indexes;
    for (const VmRecord& vm : listed) {
        const bool wanted =
            set.kind == VmSet::Kind::kAll || (set.kind == VmSet::Kind::kRunning) == vm.started;
        if (wanted && std::find(indexes.begin(), indexes.end(), vm.index) == indexes.end())
            indexes.push_back(vm.index);
    }
    return indexes;
}
