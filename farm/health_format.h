// The farm's health as text, as JSON and in the Prometheus text exposition format.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "farm/health.h"

// GBK to UTF-8 (titles are Chinese; JSON and Prometheus files are UTF-8).
using Utf8Of = std::function<std::string(std::string_view gbk)>;

// An aligned table, one row per VM (running but unhealthy rows marked with "!"; mem is the
// working set, private the commit charge), and a last line that counts them. GBK, LF line
// ends.
std::string HealthTable(const HealthReport& report);

// One JSON document on one line: {"ok":...,"sampled_at":"...","vms":[...]}; with an exit code
// other than 0 also "error":{"exit_code":...,"message":"..."}.
std::string HealthJson(const HealthReport& report, int exit_code, const std::string& message,
                       const Utf8Of& utf8);

// The readings as gauges for a text-file collector: every metric with its HELP and TYPE lines,
// labels index and title (escaped, UTF-8); a value that could not be read has no sample.
std::string PrometheusText(const HealthReport& report, const Utf8Of& utf8);

// A label value as the exposition format escapes it: backslash, double quote and line feed.
std::string PrometheusLabelValue(std::string_view utf8);
// A sample value: whole numbers below 1e15 (bytes, flags) in plain digits, others with nine
// significant digits, NaN as "NaN".
std::string PrometheusNumber(double value);
