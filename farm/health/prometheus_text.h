// The farm's health in the Prometheus text exposition format, for a text-file collector.
#pragma once

#include <string>
#include <string_view>

#include "farm/health/heal_view.h"
#include "farm/health/health.h"
#include "text/utf8_of.h"

// The readings as gauges: every metric with its HELP and TYPE lines, labels index and title
// (escaped, UTF-8); a value that could not be read has no sample. With `heal`, also the
// counter memu_vm_heal_actions_total (every VM, action and result, 0 until one ends) and the
// gauge memu_vm_heal_gave_up.
std::string PrometheusText(const HealthReport& report, const Utf8Of& utf8,
                           const HealView* heal = nullptr);

// A label value as the exposition format escapes it: backslash, double quote and line feed.
std::string PrometheusLabelValue(std::string_view utf8);
// A sample value: whole numbers below 1e15 (bytes, flags) in plain digits, others with nine
// significant digits, NaN as "NaN".
std::string PrometheusNumber(double value);
