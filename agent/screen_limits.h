// The screenshot tool's limits and defaults for agents, each in one place: its schema, its
// reading and its fitting read them from here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace agent {

// max_bytes: the most bytes the whole result may take as sent (base64 and text included).
inline constexpr int64_t kDefaultImageBudget = 800000;
inline constexpr int64_t kLeastImageBudget = 1000;
inline constexpr int64_t kMostImageBudget = 50 * 1000 * 1000;
// max_width: the widest image sent, in pixels.
inline constexpr int64_t kLeastMaxWidth = 64;
inline constexpr int64_t kMostMaxWidth = 16384;
// Over the budget no image is scaled below this width; narrower than it, one is left out.
inline constexpr int kLeastImageWidth = 64;
// The most bytes of one screen capture read back, and the most pixels decoded from it.
inline constexpr size_t kMostCaptureBytes = 32 * 1024 * 1024;
inline constexpr int64_t kMostCapturePixels = 8192 * 8192;

}  // namespace agent
