#include "image/raw_screen.h"

namespace image {

namespace {

constexpr size_t kShortHeader = 12;  // width, height, format
constexpr size_t kLongHeader = 16;   // and the colour space
constexpr size_t kMostPixelBytes = 4;

uint32_t U32At(std::string_view bytes, size_t at) {
    const auto byte = [&](size_t i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i]));
    };
    return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

// Bytes a pixel of `format`, 0 for a format not read.
size_t PixelBytes(uint32_t format) {
    switch (format) {
        case kRawRgba8888:
        case kRawRgbx8888:
            return 4;
        case kRawRgb565:
            return 2;
        default:
            return 0;
    }
}

}  // namespace

size_t RawScreenMostBytes(int64_t most_pixels) {
    return kLongHeader + static_cast<size_t>(most_pixels) * kMostPixelBytes;
}

Decoded DecodeRawScreen(std::string_view bytes, int64_t most_pixels, Picture reuse) {
    if (bytes.size() < kShortHeader) return {std::nullopt, "the raw screen has no header"};
    const uint32_t width = U32At(bytes, 0);
    const uint32_t height = U32At(bytes, 4);
    const uint32_t format = U32At(bytes, 8);
    const size_t pixel_bytes = PixelBytes(format);
    if (pixel_bytes == 0)
        return {std::nullopt,
                "the raw screen's pixel format " + std::to_string(format) + " is not read"};
    if (width == 0 || height == 0) return {std::nullopt, "the raw screen has no pixels"};
    // Both below 2^32: their product fits in 64 bits, and is checked before it is used.
    const uint64_t pixels = uint64_t{width} * height;
    if (pixels > static_cast<uint64_t>(most_pixels) || width > INT32_MAX || height > INT32_MAX)
        return {std::nullopt, "the raw screen is " + std::to_string(width) + "x" +
                                  std::to_string(height) + ", more pixels than are read"};
    const size_t body = static_cast<size_t>(pixels) * pixel_bytes;
    size_t header = 0;
    if (bytes.size() == kShortHeader + body)
        header = kShortHeader;
    else if (bytes.size() == kLongHeader + body)
        header = kLongHeader;
    else
        return {std::nullopt, "the raw screen is " + std::to_string(bytes.size()) +
                                  " bytes, not a header and " + std::to_string(body) +
                                  " bytes of pixels"};
    Picture picture = std::move(reuse);
    picture.width = static_cast<int>(width);
    picture.height = static_cast<int>(height);
    picture.rgb.resize(static_cast<size_t>(pixels) * 3);
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data() + header);
    unsigned char* out = picture.rgb.data();
    if (pixel_bytes == 4) {
        for (size_t i = 0; i < pixels; ++i, in += 4, out += 3) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        }
    } else {
        for (size_t i = 0; i < pixels; ++i, in += 2, out += 3) {
            const unsigned value = in[0] | unsigned{in[1]} << 8;
            const unsigned r = value >> 11, g = (value >> 5) & 0x3f, b = value & 0x1f;
            out[0] = static_cast<unsigned char>(r << 3 | r >> 2);
            out[1] = static_cast<unsigned char>(g << 2 | g >> 4);
            out[2] = static_cast<unsigned char>(b << 3 | b >> 2);
        }
    }
    return {std::move(picture), ""};
}

}  // namespace image
