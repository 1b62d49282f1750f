#include "control/strict_result.h"

#include "text/gbk_text.h"

namespace {

// The reply's first line that holds anything, without leading blanks; adb's own notes about its
// server ("* daemon not running; starting now ...") are passed over.
std::string FirstWords(const std::string& reply) {
    for (const std::string& line : gbk::Split(reply, "\n")) {
        std::string words = gbk::Trim(line);
        while (!words.empty() && (words.back() == '\r' || words.back() == ' ')) words.pop_back();
        if (!words.empty() && words.rfind("* ", 0) != 0) return words;
    }
    return {};
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// memuc writes its errors as "ERROR: ..."; adb as "error: ..." or "adb: error: ...".
bool ReplyIsError(Tool tool, const std::string& reply) {
    const std::string first = FirstWords(reply);
    if (tool == Tool::kMemuc) return StartsWith(first, "ERROR");
    return StartsWith(first, "error:") || StartsWith(first, "adb: error:");
}

std::optional<std::string> EndFailure(const ToolRun& run, const std::string& tool) {
    switch (run.end) {
        case RunEnd::kNotStarted:
            return run.error;
        case RunEnd::kTimedOut:
            return tool + " did not answer within the time-out; it is left running";
        case RunEnd::kAbandoned:
            return "the deadline passed while " + tool + " was running; it is left running";
        case RunEnd::kDetached:
        case RunEnd::kExited:
            break;
    }
    if (run.end == RunEnd::kExited && run.exit_code != 0)
        return tool + " ended with exit code " + std::to_string(run.exit_code);
    return std::nullopt;
}

}  // namespace

std::optional<std::string> RunFailure(Op op, const ToolRun& run) {
    const OperationRow& operation = RowOf(op);
    const std::string tool = operation.tool == Tool::kAdb ? "adb.exe" : "memuc.exe";
    if (std::optional<std::string> failure = EndFailure(run, tool)) return failure;
    if (run.end == RunEnd::kDetached) return std::nullopt;
    if (ReplyIsError(operation.tool, run.output)) return tool + " reported an error";
    // isvmrunning answers a question: either answer is a result.
    if (operation.rule == ResultRule::kPhraseAbsent) return std::nullopt;
    if (!ReplySucceeds(op, run.output)) {
        if (operation.rule == ResultRule::kSuccessOrWaiting)
            return "the reply holds neither \"SUCCESS\" nor \"wait for 30000\"";
        return "the reply lacks \"" + std::string(operation.phrase) + "\"";
    }
    return std::nullopt;
}
