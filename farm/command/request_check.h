// What is wrong with a request before anything runs: its texts against their arguments'
// rules, its VM indexes against the adb ports, its clone numbering against the highest clone
// number. Each message names the argument or option.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "farm/command/request.h"

std::optional<std::string> RequestProblem(const FarmRequest& request);

// Why VM `index` cannot take part in the request (a VM without an adb port, for a command
// that asks adb), or nothing.
std::optional<std::string> IndexProblem(const FarmRequest& request, int32_t index);
