#include "image/image_scaling.h"

#include <algorithm>
#include <cmath>

#include "image/stb_headers.h"

namespace image {

namespace {

constexpr int kChannels = 3;
// JPEG's quality at full size, its step down with each smaller size, and its floor.
constexpr int kFirstJpegQuality = 90;
constexpr int kJpegQualityStep = 10;
constexpr int kLeastJpegQuality = 50;
// Each step scales by at least this much and at most this much, whatever the sizes suggest.
constexpr double kLeastStep = 0.9;
constexpr double kMostStep = 0.5;

void Append(void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data),
                                               static_cast<size_t>(size));
}

int WidthAt(const Picture& picture, double factor, const FitOptions& options) {
    int first = picture.width;
    if (options.max_width > 0) first = std::min(first, options.max_width);
    const int floor = std::min(picture.width, std::max(1, options.least_width));
    const int scaled = static_cast<int>(std::lround(first * factor));
    return std::clamp(scaled, std::min(floor, first), first);
}

}  // namespace

const char* MimeType(Format format) {
    return format == Format::kJpeg ? "image/jpeg" : "image/png";
}

Decoded Decode(std::string_view bytes, int64_t most_pixels) {
    if (bytes.empty()) return {std::nullopt, "the capture is empty"};
    if (bytes.size() > static_cast<size_t>(INT32_MAX))
        return {std::nullopt, "the capture is too large"};
    const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
    const int length = static_cast<int>(bytes.size());
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(data, length, &width, &height, &channels))
        return {std::nullopt,
                std::string("not a PNG or JPEG image (") + stbi_failure_reason() + ")"};
    if (static_cast<int64_t>(width) * height > most_pixels)
        return {std::nullopt, "the image is " + std::to_string(width) + "x" +
                                  std::to_string(height) + ", more pixels than are read"};
    stbi_uc* pixels = stbi_load_from_memory(data, length, &width, &height, &channels, kChannels);
    if (!pixels)
        return {std::nullopt,
                std::string("the image could not be decoded (") + stbi_failure_reason() + ")"};
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.rgb.assign(pixels, pixels + static_cast<size_t>(width) * height * kChannels);
    stbi_image_free(pixels);
    return {std::move(picture), ""};
}

Picture Scaled(const Picture& picture, int width, ScaleFilter filter) {
    width = std::max(1, width);
    if (width == picture.width) return picture;
    Picture out;
    out.width = width;
    out.height = std::max(1, static_cast<int>(std::lround(static_cast<double>(picture.height) *
                                                          width / picture.width)));
    out.rgb.resize(static_cast<size_t>(out.width) * out.height * kChannels);
    if (filter == ScaleFilter::kBox)
        stbir_resize_uint8_generic(picture.rgb.data(), picture.width, picture.height, 0,
                                   out.rgb.data(), out.width, out.height, 0, kChannels,
                                   STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP, STBIR_FILTER_BOX,
                                   STBIR_COLORSPACE_LINEAR, nullptr);
    else
        stbir_resize_uint8(picture.rgb.data(), picture.width, picture.height, 0, out.rgb.data(),
                           out.width, out.height, 0, kChannels);
    return out;
}

std::string Encode(const Picture& picture, Format format, int jpeg_quality) {
    std::string out;
    const int ok =
        format == Format::kJpeg
            ? stbi_write_jpg_to_func(Append, &out, picture.width, picture.height, kChannels,
                                     picture.rgb.data(), std::clamp(jpeg_quality, 1, 100))
            : stbi_write_png_to_func(Append, &out, picture.width, picture.height, kChannels,
                                     picture.rgb.data(), picture.width * kChannels);
    if (!ok) out.clear();
    return out;
}

std::vector<std::optional<Encoded>> FitToBudget(const std::vector<const Picture*>& pictures,
                                                const FitOptions& options, const Excess& excess) {
    std::vector<std::optional<Encoded>> images(pictures.size());
    std::vector<const Encoded*> sent(pictures.size());
    double factor = 1;
    int quality = kFirstJpegQuality;
    std::vector<int> widths(pictures.size(), -1);
    for (;;) {
        bool narrowed = false;
        size_t total = 0;
        for (size_t i = 0; i < pictures.size(); ++i) {
            const int width = WidthAt(*pictures[i], factor, options);
            if (width != widths[i] || options.format == Format::kJpeg) {
                narrowed = narrowed || width != widths[i];
                widths[i] = width;
                const Picture scaled = Scaled(*pictures[i], width);
                images[i] =
                    Encoded{Encode(scaled, options.format, quality), scaled.width, scaled.height};
            }
            sent[i] = &*images[i];
            total += images[i]->bytes.size();
        }
        const int64_t over = excess(sent);
        if (over <= 0) return images;
        const bool at_floor =
            !narrowed && (options.format != Format::kJpeg || quality == kLeastJpegQuality);
        if (at_floor || total == 0) break;
        // Bytes go about with the area: the width's share of what would fit, a little under.
        const double room = std::max(0.0, static_cast<double>(total) - static_cast<double>(over));
        const double step = std::sqrt(room / static_cast<double>(total)) * 0.95;
        factor *= std::clamp(step, kMostStep, kLeastStep);
        quality = std::max(kLeastJpegQuality, quality - kJpegQualityStep);
    }
    // Even at their least width the whole would not fit: the last ones are left out.
    for (size_t i = pictures.size(); i-- > 0;) {
        sent[i] = nullptr;
        images[i].reset();
        if (excess(sent) <= 0) break;
    }
    return images;
}

}  // namespace image
