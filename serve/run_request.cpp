#include "serve/run_request.h"

#include <nlohmann/json.hpp>

#include "farm/command/option_rows.h"
#include "farm/command/verb_rows.h"
#include "serve/files_folder.h"
#include "text/gbk_text.h"

namespace serve {
namespace {

constexpr const char* kShape = "the body is {\"argv\": [\"COMMAND\", \"ARG\", ...]}";

// Reads {"argv": [strings]} and nothing else, value by value: no document is built, so no
// nesting or size of another shape costs anything.
class ArgvReader : public nlohmann::json_sax<nlohmann::json> {
public:
    std::vector<std::string> words;
    std::string problem;
    bool seen_argv = false;

    bool null() override { return Other("null"); }
    bool boolean(bool) override { return Other("a true or false"); }
    bool number_integer(number_integer_t) override { return Other("a number"); }
    bool number_unsigned(number_unsigned_t) override { return Other("a number"); }
    bool number_float(number_float_t, const string_t&) override { return Other("a number"); }
    bool binary(binary_t&) override { return Other("binary data"); }
    bool string(string_t& text) override {
        if (depth_ != 2) return Other("a string");
        if (words.size() == kMostRunWords)
            return Fail("argv holds more than " + std::to_string(kMostRunWords) + " words");
        words.push_back(std::move(text));
        return true;
    }
    bool start_object(std::size_t) override {
        if (depth_ != 0) return Other("an object");
        ++depth_;
        return true;
    }
    bool key(string_t& name) override {
        if (name != "argv") return Fail("the body holds a key other than argv: " + Shape());
        if (seen_argv) return Fail("the body gives argv twice");
        seen_argv = true;
        return true;
    }
    bool end_object() override {
        --depth_;
        if (!seen_argv) return Fail("the body has no argv: " + Shape());
        return true;
    }
    bool start_array(std::size_t) override {
        if (depth_ != 1) return Other("an array");
        ++depth_;
        return true;
    }
    bool end_array() override {
        --depth_;
        return true;
    }
    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception&) override {
        if (problem.empty())
            problem = "the body is not JSON (at byte " + std::to_string(position) + "): " + Shape();
        return false;
    }

private:
    static std::string Shape() { return kShape; }
    bool Fail(std::string text) {
        problem = std::move(text);
        return false;
    }
    bool Other(const std::string& what) {
        if (depth_ == 0) return Fail("the body is " + what + ", not an object: " + Shape());
        if (depth_ == 1) return Fail("argv is " + what + ", not an array of strings");
        return Fail("argv holds " + what + ": every word is a string");
    }
    int depth_ = 0;
};

RunCheck Refused(RunCheck check, std::string message) {
    check.status = 422;
    check.message = std::move(message);
    return check;
}

// The command word: the first word that is no option, stepping over a global option's value.
std::optional<std::string> CommandWord(const std::vector<std::string>& words) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--") return std::nullopt;
        if (word.size() < 2 || word[0] != '-') return word;
        const OptionRow* option = FindOption(word);
        if (option && option->kind != OptionKind::kFlag) ++i;
    }
    return std::nullopt;
}

}  // namespace

RunCheck CheckRunBody(std::string_view body, const RunSettings& settings, const GbkOf& gbk) {
    RunCheck check;
    ArgvReader reader;
    bool read = false;
    try {
        read = nlohmann::json::sax_parse(body, &reader);
    } catch (const nlohmann::json::exception&) {
        read = false;
    }
    if (!read || !reader.problem.empty()) {
        check.status = 400;
        check.message = reader.problem.empty() ? std::string(kShape) : reader.problem;
        return check;
    }
    for (std::size_t i = 0; i < reader.words.size(); ++i) {
        std::optional<std::string> word = gbk(reader.words[i]);
        if (!word)
            return Refused(std::move(check),
                           "argv[" + std::to_string(i) +
                               "] holds a character that code page 936 (GBK) does not have");
        check.argv.push_back(std::move(*word));
    }

    for (const std::string& word : check.argv)
        if (word == "--install-dir" || word.starts_with("--install-dir="))
            return Refused(std::move(check),
                           "--install-dir is not taken over the web: the server uses the "
                           "emulator it found at start");
    if (const std::optional<std::string> command = CommandWord(check.argv)) {
        const VerbRow* verb = FindVerb(*command);
        if (*command == "mcp" || *command == "serve" ||
            (verb && !(verb->front_ends & kServeFrontEnd)))
            return Refused(std::move(check),
                           "MEmuFarm " + *command + " is not run through the web service");
    }

    std::vector<std::string> path_problems;
    const PathResolver inside = [&](const std::string& path) -> std::string {
        if (!settings.files) {
            path_problems.push_back(gbk::Quoted(path) +
                                    ": this server was started without --files, so no command "
                                    "may name a file");
            return path;
        }
        if (std::optional<std::string> full = FullPathInside(path, *settings.files)) return *full;
        path_problems.push_back(gbk::Quoted(path) + " is not inside the files folder " +
                                gbk::Quoted(*settings.files));
        return path;
    };
    check.parsed = ParseFarmArgs(check.argv, settings.version, inside);
    if (check.parsed.kind == ParseOutcome::Kind::kUsageError) {
        std::string message = check.parsed.text;
        return Refused(std::move(check), std::move(message));
    }
    if (!path_problems.empty()) return Refused(std::move(check), path_problems.front());
    const FarmRequest& request = check.parsed.request;
    if (check.parsed.kind == ParseOutcome::Kind::kRun && request.watch_s)
        return Refused(std::move(check),
                       "health --watch runs until it is stopped: over the web, ask health once "
                       "at a time");
    return check;
}

std::string CommandOf(const RunCheck& check) {
    return check.argv.empty() ? std::string() : check.argv.front();
}

Document RefusalDocument(const RunCheck& check, const Utf8Of& utf8) {
    Document document = FailureDocument(kExitUsage, check.message, utf8);
    document["exit_code"] = static_cast<int>(kExitUsage);
    return document;
}

int RunStatus(bool ok, int exit_code) {
    switch (exit_code) {
        case kExitOk:
            return 200;
        case kExitFailed:
            return ok ? 200 : 500;
        case kExitUsage:
            return 422;
        case kExitNotFound:
            return 503;
        case kExitDeadline:
            return 504;
        default:
            return 500;
    }
}

RunReply ReplyToRun(Document document, int exit_code) {
    if (!document.is_object()) document = Document::object();
    const bool ok =
        document.contains("ok") && document["ok"].is_boolean() && document["ok"].get<bool>();
    if (!document.contains("exit_code")) document["exit_code"] = exit_code;
    return {RunStatus(ok, exit_code), std::move(document)};
}

}  // namespace serve
