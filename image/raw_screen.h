// A device's screen as `screencap` prints it without -p: a little-endian header of width,
// height and pixel format (u32 each), on Android 9 and later a colour space (u32) too, then the
// pixels row after row. Far cheaper to make and to read than the PNG of the same screen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "image/image_scaling.h"

namespace image {

// The pixel formats read: four bytes a pixel (R, G, B, then alpha or nothing), or RGB 5-6-5 in
// two little-endian bytes.
inline constexpr uint32_t kRawRgba8888 = 1;
inline constexpr uint32_t kRawRgbx8888 = 2;
inline constexpr uint32_t kRawRgb565 = 4;

// The most bytes a raw screen of at most `most_pixels` pixels takes, its longer header included.
size_t RawScreenMostBytes(int64_t most_pixels);

// The raw screen as its RGB picture, or why it is not one (`problem`): a header of neither
// length before exactly width*height pixels, a format not read, no pixels, or more than
// `most_pixels`.
// The picture's pixels are kept in `reuse`'s memory (its own otherwise), so a caller that gives
// back the last picture allocates none from one screen to the next.
Decoded DecodeRawScreen(std::string_view bytes, int64_t most_pixels, Picture reuse = {});

}  // namespace image
