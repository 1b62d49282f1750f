// Screen images for a byte budget: a capture decoded once, scaled down keeping its aspect,
// encoded as PNG or JPEG; a set of them scaled evenly, step by step, until the whole they are
// sent in fits, and only at the smallest width left out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace image {

enum class Format { kPng, kJpeg };

// "image/png" or "image/jpeg".
const char* MimeType(Format format);

// Pixels as red, green, blue bytes, row after row.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
};

// A PNG or JPEG read into its pixels, or why it could not be (`problem`). A picture of more
// than `most_pixels` is refused before it is decoded.
struct Decoded {
    std::optional<Picture> picture;
    std::string problem;
};
Decoded Decode(std::string_view bytes, int64_t most_pixels);

// How a picture is scaled: kSmooth, stb's default filters (sharper); kBox, each pixel the mean
// of those it covers, about twice as fast, as good for a small thumbnail.
enum class ScaleFilter { kSmooth, kBox };

// The picture `width` pixels wide (at least 1), its height in the same proportion; the same
// picture when it already is that wide.
Picture Scaled(const Picture& picture, int width, ScaleFilter filter = ScaleFilter::kSmooth);

// The picture as a PNG, or as a JPEG of `jpeg_quality` (1 to 100). Empty only when the
// encoder failed.
std::string Encode(const Picture& picture, Format format, int jpeg_quality);

struct Encoded {
    std::string bytes;
    int width = 0;
    int height = 0;
};

struct FitOptions {
    Format format = Format::kPng;
    int max_width = 0;    // a wider picture is scaled to it first
    int least_width = 0;  // no picture is scaled below it (a narrower one stays as it is)
};

// How many bytes the whole would pass its budget with these images, in the order of the
// pictures (null for one left out); zero or less when it fits.
using Excess = std::function<int64_t(const std::vector<const Encoded*>& images)>;

// The pictures encoded as large as fits: first at most max_width wide; while the whole passes
// its budget, all of them scaled down by the same factor (a JPEG's quality stepping down too),
// until each is at its least width; then the last ones left out, one by one, until it fits.
std::vector<std::optional<Encoded>> FitToBudget(const std::vector<const Picture*>& pictures,
                                                const FitOptions& options, const Excess& excess);

}  // namespace image
