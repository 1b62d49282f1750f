#include "control/strict_result.h"

#include "text/gbk_text.h"

namespace {

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Whether `phrase` stands in `reply` at its start or after a character that is no letter. The
// reply is walked character by character, so the trail byte of a two-byte character is never
// taken for a letter.
bool HoldsAsWord(std::string_view reply, std::string_view phrase) {
    if (phrase.empty()) return false;
    bool after_letter = false;
    for (size_t i = 0; i < reply.size();) {
        if (!after_letter && reply.substr(i, phrase.size()) == phrase) return true;
        const size_t width = gbk::CharWidth(reply, i);
        after_letter = width == 1 && IsAsciiLetter(reply[i]);
        i += width;
    }
    return false;
}

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

bool ReplyHoldsResult(Op op, std::string_view reply) {
    const OperationRow& operation = RowOf(op);
    switch (operation.rule) {
        case ResultRule::kPhrase:
            return HoldsAsWord(reply, operation.phrase);
        case ResultRule::kSuccessOrWaiting:
            return HoldsAsWord(reply, "SUCCESS") || HoldsAsWord(reply, "wait for 30000");
        case ResultRule::kPhraseAbsent:
        case ResultRule::kNone:
        case ResultRule::kOutput:
            break;
    }
    return ReplySucceeds(op, reply);
}

std::optional<std::string> RunFailure(Op op, const ToolRun& run) {
    const OperationRow& operation = RowOf(op);
    const std::string tool = operation.tool == Tool::kAdb ? "adb.exe" : "memuc.exe";
    if (std::optional<std::string> failure = EndFailure(run, tool)) return failure;
    if (run.end == RunEnd::kDetached) return std::nullopt;
    if (ReplyIsError(operation.tool, run.output)) return tool + " reported an error";
    // isvmrunning answers a question: either answer is a result.
    if (operation.rule == ResultRule::kPhraseAbsent) return std::nullopt;
    if (!ReplyHoldsResult(op, run.output)) {
        if (operation.rule == ResultRule::kSuccessOrWaiting)
            return "the reply holds neither \"SUCCESS\" nor \"wait for 30000\"";
        return "the reply lacks \"" + std::string(operation.phrase) + "\"";
    }
    return std::nullopt;
}
