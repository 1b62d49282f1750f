// The farm's health as text and as a JSON document.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "farm/health/heal_view.h"
#include "farm/health/health.h"
#include "text/utf8_of.h"

// An aligned table, one row per VM (running but unhealthy rows marked with "!"; mem is the
// working set, private the commit charge), and a last line that counts them. GBK, LF line
// ends. With `heal`, a VM being healed or given up on says so, and an action handed out is
// named.
std::string HealthTable(const HealthReport& report, const HealView* heal = nullptr);

// {"ok":...,"sampled_at":"...","vms":[...]}; with an exit code other than 0 also
// "error":{"exit_code":...,"message":"..."}. With `heal`, the document also counts the VMs
// "healing" and "gave_up", and each VM has "heal": its heal state.
nlohmann::ordered_json HealthDocument(const HealthReport& report, int exit_code,
                                      const std::string& message, const Utf8Of& utf8,
                                      const HealView* heal = nullptr);

// A heal action, told apart from the rounds by its "event": {"event":"heal","time":"...",
// "index":1,"title":"...","action":"restart","reason":"...","steps":[...],"result":"ok"},
// with "failure" when it did not succeed.
nlohmann::ordered_json HealEventDocument(const HealEvent& event, const Utf8Of& utf8);
// The same as one line of text (GBK, no line end).
std::string HealEventLine(const HealEvent& event);
