// Output pieces shared by the console companion's commands: JSON values from GBK texts, the
// messages for the program's failure exits, and the VM table.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

#include "cli/farm_console.h"
#include "control/vm_record.h"

using Json = nlohmann::ordered_json;

// A JSON string from a GBK text.
Json JsonText(FarmConsole& console, std::string_view text);

// Prints the document as one line of UTF-8; tool output that is not valid text is replaced
// rather than refused.
void PrintJsonDocument(FarmConsole& console, const Json& document);

// The failure exits other than a tool's own failure: the message goes to standard error in
// text mode, and into {"ok":false,"error":kind,"message":...} with --json. Returns `code`.
int ReportFailure(FarmConsole& console, bool json, const char* kind, const std::string& message,
                  int code);

// Reports a passed deadline: what was written so far, and which line it waited for. With
// --json, `document` (already holding what the command has) gets "error", "waiting_for" and
// "output". Returns the deadline's exit code.
int ReportDeadline(FarmConsole& console, bool json, Json document, const DeadlinePassed& passed);

// The VMs as an aligned table, one line per VM (GBK: a Chinese character is two bytes and two
// columns wide).
std::string VmTable(const VmList& vms);
Json VmJson(FarmConsole& console, const VmRecord& vm);
