// POST /api/run: its body, the commands the web service will not run, and the answer's status.
// The body is {"argv": ["start", "all", "--boot"]}: the console's words, read by the console's
// own parse, so every check of the console holds here too.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/farm_args.h"
#include "farm/report/outcome_document.h"
#include "text/utf8_of.h"

namespace serve {

// UTF-8 to GBK, as the caller converts (code page 936); nothing when the text holds a
// character that code page 936 does not have.
using GbkOf = std::function<std::optional<std::string>(std::string_view utf8)>;

constexpr std::size_t kMostRunWords = 4096;

struct RunSettings {
    // --files: the one folder a command's paths may name (full, GBK); none: no command may
    // name a path.
    std::optional<std::string> files;
    std::string version;  // what `--version` answers
};

// What to do with one body: run `parsed.request` (status 0), or refuse with `status` (400 for
// a body of another shape, 422 for a command refused before anything runs) and `message`.
struct RunCheck {
    int status = 0;
    std::string message;            // GBK, as the console's messages
    std::vector<std::string> argv;  // GBK, as far as it was read
    ParseOutcome parsed;            // the console's reading; paths made full inside --files
};

RunCheck CheckRunBody(std::string_view body, const RunSettings& settings, const GbkOf& gbk);

// The command's name for the log: argv[0] (GBK), empty when there is none.
std::string CommandOf(const RunCheck& check);

// The answer to a refused body: the console's failure document with exit code 2.
Document RefusalDocument(const RunCheck& check, const Utf8Of& utf8);

// The HTTP status of a command that ran, from its document's "ok" and its exit code: a
// question answered "no" (`running`: ok with exit code 1) is 200, as is 0; then 2 is 422, 1 is
// 500, 3 is 503, 4 is 504, and any other code 500.
int RunStatus(bool ok, int exit_code);

// The answer to a command that ran: the document with "exit_code" at its top level (added
// last when absent, as a failure's "error" also carries it), and its status.
struct RunReply {
    int status = 0;
    Document body;
};
RunReply ReplyToRun(Document document, int exit_code);

}  // namespace serve
