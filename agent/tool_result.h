// What a tool call answers: the command's document as its structured content, the console's
// text as its one text item, and whether it is an error, decided here and only here.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "farm/run/farm_run.h"
#include "text/utf8_of.h"

namespace agent {

// True when a step failed, timed out or passed its deadline, or nothing could run; false when
// the command did its work or answered its question (`running` answered "not running",
// `health` that found unhealthy VMs).
bool IsToolError(const FarmOutcome& outcome);

// An image of a result: its bytes and their type.
struct ResultImage {
    std::string bytes;
    std::string mime_type;  // "image/png" or "image/jpeg"
};

// The CallToolResult of a command that ran (or that the run's own checks refused).
// `progress_text`: what the console printed as the command went (each VM's line, the clone's
// log), GBK; `note`: what follows the console's text (GBK).
nlohmann::ordered_json RunResult(const FarmRequest& request, const FarmOutcome& outcome,
                                 const std::string& progress_text,
                                 const std::vector<ResultImage>& images, const Utf8Of& utf8,
                                 const std::string& note = "");

// The CallToolResult of arguments that were refused before anything ran (exit code 2), or of
// a call that could not run for another reason (`exit_code`).
nlohmann::ordered_json RefusalResult(const std::string& message, const Utf8Of& utf8,
                                     int exit_code = kExitUsage);

std::string Base64(std::string_view bytes);

}  // namespace agent
