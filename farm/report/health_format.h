// The farm's health as text, as JSON and in the Prometheus text exposition format.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "farm/health/heal_view.h"
#include "farm/health/health.h"

// GBK to UTF-8 (titles are Chinese; JSON and Prometheus files are UTF-8).
using Utf8Of = std::function<std::string(std::string_view gbk)>;

// An aligned table, one row per VM (running but unhealthy rows marked with "!"; mem is the
// working set, private the commit charge), and a last line that counts them. GBK, LF line
// ends. With `heal`, a VM being healed or given up on says so, and an action handed out is
// named.
std::string HealthTable(const HealthReport& report, const HealView* heal = nullptr);

// One JSON document on one line: {"ok":...,"sampled_at":"...","vms":[...]}; with an exit code
// other than 0 also "error":{"exit_code":...,"message":"..."}.
// With `heal`, the document also counts the VMs "healing" and "gave_up", and each VM has
// "heal": its heal state.
std::string HealthJson(const HealthReport& report, int exit_code, const std::string& message,
                       const Utf8Of& utf8, const HealView* heal = nullptr);

// The readings as gauges for a text-file collector: every metric with its HELP and TYPE lines,
// labels index and title (escaped, UTF-8); a value that could not be read has no sample. With
// `heal`, also the counter memu_vm_heal_actions_total (every VM, action and result, 0 until
// one ends) and the gauge memu_vm_heal_gave_up.
std::string PrometheusText(const HealthReport& report, const Utf8Of& utf8,
                           const HealView* heal = nullptr);

// A heal action as one JSON document on one line, told apart from the rounds by its "event":
// {"event":"heal","time":"...","index":1,"title":"...","action":"restart","reason":"...",
// "steps":[...],"result":"ok"}, with "failure" when it did not succeed.
std::string HealEventJson(const HealEvent& event, const Utf8Of& utf8);
// The same as one line of text (GBK, no line end).
std::string HealEventLine(const HealEvent& event);

// A label value as the exposition format escapes it: backslash, double quote and line feed.
std::string PrometheusLabelValue(std::string_view utf8);
// A sample value: whole numbers below 1e15 (bytes, flags) in plain digits, others with nine
// significant digits, NaN as "NaN".
std::string PrometheusNumber(double value);
