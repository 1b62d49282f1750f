// Fuzzes the console companion's command line: the input is its arguments separated by zero
// bytes. Whatever they are, parsing ends in a request, a help text or a usage error with a
// message. A request's VM set is never empty, too large or repeating; and once its texts pass
// their checks, every line it would run gives each text back as exactly one argument.

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cli/farm_args.h"
#include "control/command_line_args.h"
#include "control/operations.h"
#include "farm/command/request_check.h"
#include "farm/command/grammar.h"
#include "fuzz_support.h"

namespace {

bool HasArgument(const std::vector<std::string>& args, const std::string& text) {
    return std::find(args.begin(), args.end(), text) != args.end();
}

void CheckSet(const VmSet& set, std::string_view input) {
    if (set.NeedsListing()) return;
    FUZZ_REQUIRE(!set.indexes.empty(), input);
    FUZZ_REQUIRE(set.indexes.size() <= kMostVmsInSet, input);
    FUZZ_REQUIRE(
        std::set<int32_t>(set.indexes.begin(), set.indexes.end()).size() == set.indexes.size(),
        input);
}

// The texts of the line, as the tool will read them.
void CheckLine(const FarmRequest& request, std::string_view input) {
    const Op op = OperationOf(request);
    if (request.verb->job == VmJob::kScreenshot) return;
    const int32_t index =
        request.set ? request.set->indexes.empty() ? 0 : request.set->indexes[0] : 0;
    OperationArgs args{index, request.numbers, request.texts};
    const std::string line = OperationLine(op, args, TextStyle::kOneArgumentEach);
    const std::vector<std::string> argv = cmdline::SplitArguments(line);
    size_t text = 0;
    for (const Slot& slot : RowOf(op).slots) {
        if (!slot.name || slot.kind == SlotKind::kIndex || slot.kind == SlotKind::kInt) continue;
        if (slot.kind == SlotKind::kArgs) {
            // adb's arguments close the line, in order, each one whole.
            const std::vector<std::string> tail(
                argv.end() - static_cast<long>(std::min(argv.size(), request.texts.size())),
                argv.end());
            FUZZ_REQUIRE(tail == request.texts, input, line);
            break;
        }
        if (text >= request.texts.size()) break;
        const std::string& given = request.texts[text++];
        const std::string expected =
            slot.kind == SlotKind::kDeviceText ? DeviceTextWord(given) : given;
        FUZZ_REQUIRE(HasArgument(argv, expected), input, line, given);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args;
    for (size_t start = 0; start <= input.size();) {
        const size_t end = std::min(input.find('\0', start), input.size());
        args.emplace_back(input.substr(start, end - start));
        start = end + 1;
    }
    // The arguments come from the program's UTF-16 command line: always whole GBK characters.
    for (const std::string& arg : args)
        if (!fuzz::IsWholeGbk(arg)) return 0;

    const ParseOutcome outcome = ParseFarmArgs(args, "1.0.0");
    if (outcome.kind == ParseOutcome::Kind::kUsageError) FUZZ_REQUIRE(!outcome.text.empty(), input);
    if (outcome.kind != ParseOutcome::Kind::kRun) return 0;
    const FarmRequest& request = outcome.request;
    if (request.set) CheckSet(*request.set, input);
    if (RequestProblem(request)) return 0;
    if (request.verb->kind == VerbKind::kList || request.verb->kind == VerbKind::kClone) return 0;
    CheckLine(request, input);
    return 0;
}
