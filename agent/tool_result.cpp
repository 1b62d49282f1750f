#include "agent/tool_result.h"

#include "farm/report/outcome_document.h"
#include "farm/report/outcome_text.h"

namespace agent {

namespace {

using Json = nlohmann::ordered_json;

// The console's text output: standard output and standard error, in the order printed.
std::string ConsoleText(const std::vector<Printout>& printed) {
    std::string text;
    for (const Printout& piece : printed)
        if (piece.stream != Printout::Stream::kJson) text += piece.text;
    return text;
}

Json TextItem(const std::string& gbk, const Utf8Of& utf8) {
    return {{"type", "text"}, {"text", utf8(gbk)}};
}

}  // namespace

bool IsToolError(const FarmOutcome& outcome) {
    if (const auto* round = std::get_if<HealthRound>(&outcome.what)) {
        // The readings stand and every file was written: unhealthy VMs are the answer.
        const bool answered = round->listed && !round->prom_failure && round->missing.empty();
        return !answered;
    }
    return !outcome.ok;
}

Json RunResult(const FarmRequest& request, const FarmOutcome& outcome,
               const std::string& progress_text, const std::vector<ResultImage>& images,
               const Utf8Of& utf8, const std::string& note) {
    FarmRequest as_text = request;
    as_text.json = false;
    const std::string text =
        progress_text + ConsoleText(OutcomeReport(as_text, outcome, utf8)) + note;
    Json content = Json::array({TextItem(text, utf8)});
    for (const ResultImage& image : images)
        content.push_back(
            {{"type", "image"}, {"data", Base64(image.bytes)}, {"mimeType", image.mime_type}});
    return {{"content", content},
            {"structuredContent", OutcomeDocument(request, outcome, utf8)},
            {"isError", IsToolError(outcome)}};
}

Json RefusalResult(const std::string& message, const Utf8Of& utf8, int exit_code) {
    const std::string text = ConsoleText(FailureReport(exit_code, message, false, utf8));
    return {{"content", Json::array({TextItem(text, utf8)})},
            {"structuredContent", FailureDocument(exit_code, message, utf8)},
            {"isError", true}};
}

std::string Base64(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned n = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[n >> 18];
        out += kDigits[(n >> 12) & 63];
        out += kDigits[(n >> 6) & 63];
        out += kDigits[n & 63];
    }
    if (i < bytes.size()) {
        unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kDigits[n >> 18];
        out += kDigits[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

}  // namespace agent
