// The raw screen a device's `screencap` prints: its two header lengths told apart by the size,
// the formats read, and every reply that is not exactly a header and its pixels refused.
#include "image/raw_screen.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "row_name.h"

namespace {

void PutU32(std::string* bytes, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes->push_back(static_cast<char>(value >> shift));
}

struct RawRow {
    const char* name;
    uint32_t width;
    uint32_t height;
    uint32_t format;
    bool colour_space;      // the longer header, of Android 9 and later
    int64_t pixels_change;  // bytes more (or fewer) than width*height pixels
    int64_t most_pixels;
    const char* problem;  // null: read
};

// A reply of `row`'s header with pixel i of value i (each byte), cut or padded as it says.
std::string Reply(const RawRow& row) {
    std::string bytes;
    PutU32(&bytes, row.width);
    PutU32(&bytes, row.height);
    PutU32(&bytes, row.format);
    if (row.colour_space) PutU32(&bytes, 1);
    const size_t pixel_bytes = row.format == image::kRawRgb565 ? 2 : 4;
    const int64_t pixels = static_cast<int64_t>(row.width) * row.height;
    const int64_t body =
        (pixels <= 4096 ? pixels * static_cast<int64_t>(pixel_bytes) : 64) + row.pixels_change;
    for (int64_t i = 0; i < body; ++i) bytes.push_back(static_cast<char>(i / pixel_bytes));
    return bytes;
}

class RawScreenTest : public testing::TestWithParam<RawRow> {};

TEST_P(RawScreenTest, ReadOnlyWhenExactlyAHeaderAndItsPixels) {
    const RawRow& row = GetParam();
    const std::string bytes = Reply(row);
    const image::Decoded decoded = image::DecodeRawScreen(bytes, row.most_pixels);
    if (row.problem) {
        EXPECT_FALSE(decoded.picture);
        EXPECT_NE(decoded.problem.find(row.problem), std::string::npos) << decoded.problem;
        return;
    }
    ASSERT_TRUE(decoded.picture) << decoded.problem;
    const image::Picture& picture = *decoded.picture;
    EXPECT_EQ(picture.width, static_cast<int>(row.width));
    EXPECT_EQ(picture.height, static_cast<int>(row.height));
    ASSERT_EQ(picture.rgb.size(), size_t{row.width} * row.height * 3);
    if (row.format != image::kRawRgb565) {
        // R, G, B of each pixel kept, its fourth byte dropped.
        const size_t last = size_t{row.width} * row.height - 1;
        EXPECT_EQ(picture.rgb[last * 3], static_cast<unsigned char>(last));
        EXPECT_EQ(picture.rgb[last * 3 + 2], static_cast<unsigned char>(last));
    }
}

constexpr int64_t kMost = 12;  // pixels read at most in these rows

INSTANTIATE_TEST_SUITE_P(
    Rows, RawScreenTest,
    testing::Values(
        RawRow{"rgba_long_header", 4, 3, image::kRawRgba8888, true, 0, kMost, nullptr},
        RawRow{"rgba_short_header", 4, 3, image::kRawRgba8888, false, 0, kMost, nullptr},
        RawRow{"rgbx", 3, 2, image::kRawRgbx8888, true, 0, kMost, nullptr},
        RawRow{"rgb565", 3, 2, image::kRawRgb565, true, 0, kMost, nullptr},
        RawRow{"rgb565_short_header", 3, 2, image::kRawRgb565, false, 0, kMost, nullptr},
        RawRow{"one_pixel", 1, 1, image::kRawRgba8888, true, 0, kMost, nullptr},
        RawRow{"at_the_pixel_limit", 12, 1, image::kRawRgba8888, true, 0, kMost, nullptr},
        RawRow{"one_pixel_over_the_limit", 13, 1, image::kRawRgba8888, true, 0, kMost,
               "more pixels than are read"},
        RawRow{"short_by_one_byte", 4, 3, image::kRawRgba8888, true, -1, kMost, "bytes, not"},
        RawRow{"short_header_short_by_one_byte", 4, 3, image::kRawRgba8888, false, -1, kMost,
               "bytes, not"},
        RawRow{"long_by_one_byte", 4, 3, image::kRawRgba8888, true, 1, kMost, "bytes, not"},
        // 12 + pixels + 2: neither header length fits.
        RawRow{"between_the_headers", 4, 3, image::kRawRgba8888, false, 2, kMost, "bytes, not"},
        RawRow{"zero_width", 0, 3, image::kRawRgba8888, true, 0, kMost, "no pixels"},
        RawRow{"zero_height", 4, 0, image::kRawRgba8888, true, 0, kMost, "no pixels"},
        RawRow{"unknown_format", 4, 3, 5, true, 0, kMost, "format 5"},
        RawRow{"format_zero", 4, 3, 0, true, 0, kMost, "format 0"},
        RawRow{"huge_sizes_overflow", 0xffffffffu, 0xffffffffu, image::kRawRgba8888, true, 0,
               INT64_MAX / 8, "more pixels than are read"},
        RawRow{"huge_width", 0x80000000u, 1, image::kRawRgba8888, true, 0, INT64_MAX / 8,
               "more pixels than are read"}),
    RowName());

TEST(RawScreenHeaderTest, FewerBytesThanAHeaderAreNoScreen) {
    EXPECT_FALSE(image::DecodeRawScreen("", 100).picture);
    EXPECT_FALSE(image::DecodeRawScreen(std::string(11, '\1'), 100).picture);
    // A PNG, as a device that does not print raw might send, is no raw screen either.
    EXPECT_FALSE(
        image::DecodeRawScreen(std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), 100).picture);
}

TEST(RawScreenHeaderTest, Rgb565SpreadsEachColourOverItsByte) {
    std::string bytes;
    PutU32(&bytes, 3);
    PutU32(&bytes, 1);
    PutU32(&bytes, image::kRawRgb565);
    for (uint16_t value : {0xf800, 0x07e0, 0x001f}) {
        bytes.push_back(static_cast<char>(value & 0xff));
        bytes.push_back(static_cast<char>(value >> 8));
    }
    const image::Decoded decoded = image::DecodeRawScreen(bytes, 100);
    ASSERT_TRUE(decoded.picture) << decoded.problem;
    const std::vector<unsigned char> rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255};
    EXPECT_EQ(decoded.picture->rgb, rgb);
}

TEST(RawScreenHeaderTest, TheBoundHoldsTheLargestScreenRead) {
    EXPECT_EQ(image::RawScreenMostBytes(12), size_t{16 + 12 * 4});
}

}  // namespace

namespace {

// The thumbnails' box filter: each pixel the mean of those it covers, the height in proportion.
TEST(BoxScaledTest, EachPixelIsTheMeanOfThoseItCovers) {
    image::Picture picture{4, 2, {}};
    for (int i = 0; i < 8; ++i) {
        const unsigned char value = i % 2 == 0 ? 10 : 30;  // 10 and 30 side by side
        picture.rgb.insert(picture.rgb.end(), {value, value, value});
    }
    const image::Picture half = image::Scaled(picture, 2, image::ScaleFilter::kBox);
    EXPECT_EQ(half.width, 2);
    EXPECT_EQ(half.height, 1);
    EXPECT_EQ(half.rgb, std::vector<unsigned char>(6, 20));
    const image::Picture same = image::Scaled(picture, 4, image::ScaleFilter::kBox);
    EXPECT_EQ(same.rgb, picture.rgb);
}

}  // namespace

namespace {

// The memory given back from the last screen holds the next one, whatever it held before.
TEST(RawScreenHeaderTest, AGivenPictureIsReusedAtTheNewSize) {
    std::string bytes;
    PutU32(&bytes, 2);
    PutU32(&bytes, 1);
    PutU32(&bytes, image::kRawRgba8888);
    PutU32(&bytes, 1);
    bytes += std::string("\x01\x02\x03\xff\x04\x05\x06\xff", 8);
    image::Picture last{9, 9, std::vector<unsigned char>(243, 7)};
    const image::Decoded decoded = image::DecodeRawScreen(bytes, 100, std::move(last));
    ASSERT_TRUE(decoded.picture) << decoded.problem;
    EXPECT_EQ(decoded.picture->width, 2);
    EXPECT_EQ(decoded.picture->height, 1);
    EXPECT_EQ(decoded.picture->rgb, (std::vector<unsigned char>{1, 2, 3, 4, 5, 6}));
}

}  // namespace
