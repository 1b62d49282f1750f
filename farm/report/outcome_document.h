// What came of a command as its one JSON document: the same keys in the same order for every
// front end (the console's --json, an agent's structured result, the web service's answer).
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "farm/run/farm_run.h"
#include "text/utf8_of.h"

using Document = nlohmann::ordered_json;

// The document of a command that ran (or was refused by the run's own checks).
Document OutcomeDocument(const FarmRequest& request, const FarmOutcome& outcome,
                         const Utf8Of& utf8);
// {"ok":false,"error":{"exit_code":N,"message":"..."}}: a command that never ran.
Document FailureDocument(int exit_code, const std::string& message, const Utf8Of& utf8);
// {"ok":true,"help":"..."} or {"ok":true,"version":"..."}.
Document InformationDocument(const std::string& key, const std::string& text, const Utf8Of& utf8);

// The document as one line of text: the one way every document is written (a tool's output
// that is not valid text is replaced, never refused).
std::string DocumentText(const Document& document);
