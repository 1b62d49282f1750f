// The position pairs at which fatal_probe raises its faults, shared with fatal_box_test.
#pragma once

#include "text/fatal_error.h"

// 901: fatal_probe's own array accesses.
inline constexpr fatal::Site kProbeIndexBelowOne{901, 1};
inline constexpr fatal::Site kProbeIndexAboveCount{901, 2};
