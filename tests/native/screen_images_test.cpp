// Screens for agents: a capture decoded, scaled keeping its aspect and encoded as PNG or
// JPEG, and a call's screens fitted into max_bytes as sent, scaled evenly before any is left
// out.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "agent/screen_images.h"
#include "image/image_scaling.h"
#include "row_name.h"

namespace {

using Json = nlohmann::ordered_json;

// A screen of `width` x `height` with blocks of noise, so that its PNG is large and a smaller
// copy is smaller.
image::Picture Noise(int width, int height) {
    image::Picture picture{width, height, {}};
    picture.rgb.resize(static_cast<size_t>(width) * height * 3);
    uint32_t seed = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                if ((x / 8 + y / 8) % 3 == 0) seed = seed * 1103515245 + 12345;
                picture.rgb[(static_cast<size_t>(y) * width + x) * 3 + c] =
                    static_cast<unsigned char>(seed >> 16);
            }
    return picture;
}

const std::string& BigScreen() {
    static const std::string png = image::Encode(Noise(600, 360), image::Format::kPng, 0);
    return png;
}

std::string Bytes(const Json& item) {
    static const std::string digits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : item["data"].get<std::string>()) {
        if (c == '=') break;
        bits = bits << 6 | static_cast<unsigned>(digits.find(c));
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xff);
        }
    }
    return out;
}

// The result as RunResult assembles it: the text, then the images.
Json Assemble(const std::vector<agent::ResultImage>& images, const std::string& note) {
    Json content = Json::array({{{"type", "text"}, {"text", "VM 1: ok\n" + note}}});
    for (const agent::ResultImage& image : images)
        content.push_back({{"type", "image"},
                           {"data", agent::Base64(image.bytes)},
                           {"mimeType", image.mime_type}});
    return {{"content", content}, {"isError", false}};
}

Json Fit(const std::vector<agent::Capture>& captures, const agent::ScreenArguments& arguments) {
    return agent::ScreensWithinBudget(captures, arguments, Assemble);
}

std::vector<agent::Capture> Screens(int count) {
    std::vector<agent::Capture> captures;
    for (int i = 1; i <= count; ++i) captures.push_back({i, BigScreen()});
    return captures;
}

int64_t SizeAsIs(int vms) {
    agent::ScreenArguments roomy;
    roomy.max_bytes = agent::kMostImageBudget;
    return static_cast<int64_t>(Fit(Screens(vms), roomy).dump().size());
}

struct FitRow {
    const char* name;
    int vms;
    int64_t budget;  // bytes; 0 and below: that many off the size of the screens as they are
    int max_width;   // 0: none
    size_t images;
    int width;  // of each image sent; 0: narrower than the screen
    const char* note;
};

class FitTest : public testing::TestWithParam<FitRow> {};

TEST_P(FitTest, TheWholeResultFitsWithItsImagesScaledEvenly) {
    const FitRow& row = GetParam();
    agent::ScreenArguments arguments;
    arguments.max_bytes = row.budget > 0 ? row.budget : SizeAsIs(row.vms) + row.budget;
    if (row.max_width) arguments.max_width = row.max_width;
    const Json result = Fit(Screens(row.vms), arguments);
    EXPECT_LE(static_cast<int64_t>(result.dump().size()), arguments.max_bytes);
    const Json& content = result["content"];
    ASSERT_EQ(content.size(), 1 + row.images) << content[0]["text"];
    int first_width = 0;
    for (size_t i = 1; i < content.size(); ++i) {
        EXPECT_EQ(content[i]["mimeType"], "image/png");
        const image::Decoded decoded = image::Decode(Bytes(content[i]), 1 << 24);
        ASSERT_TRUE(decoded.picture) << decoded.problem;
        const int width = decoded.picture->width;
        if (row.width) {
            EXPECT_EQ(width, row.width);
        } else {
            EXPECT_LT(width, 600);
            EXPECT_GE(width, agent::kLeastImageWidth);
        }
        EXPECT_NEAR(decoded.picture->height, width * 0.6, 1);  // its aspect kept
        if (i == 1) first_width = width;
        EXPECT_EQ(width, first_width) << "scaled evenly";
    }
    const std::string text = content[0]["text"];
    if (row.note) {
        EXPECT_NE(text.find(row.note), std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FitTest,
    testing::Values(FitRow{"budget_exactly_fits", 1, 0, 0, 1, 600, nullptr},
                    FitRow{"one_byte_short", 1, -1, 0, 1, 0, "the screen is 600x360, sent as "},
                    FitRow{"max_width", 1, 0, 400, 1, 400,
                           "the screen is 600x360, sent as 400x240"},
                    FitRow{"max_width_above_the_screen", 1, 0, 4000, 1, 600, nullptr},
                    FitRow{"three_vms_share", 3, 60000, 0, 3, 0, "VM 3: the screen is 600x360"},
                    FitRow{"even_the_least_passes", 3, 15000, 0, 1, 64,
                           "VM 3: screen left out: even 64 px wide"}),
    RowName());

TEST(ScreenImages, JpegAskedForIsSentAsJpegAndDecodes) {
    agent::ScreenArguments arguments;
    arguments.format = image::Format::kJpeg;
    const Json result = Fit(Screens(1), arguments);
    ASSERT_EQ(result["content"].size(), 2u);
    EXPECT_EQ(result["content"][1]["mimeType"], "image/jpeg");
    const std::string bytes = Bytes(result["content"][1]);
    EXPECT_EQ(bytes.substr(0, 3), "\xff\xd8\xff");
    const image::Decoded decoded = image::Decode(bytes, 1 << 24);
    ASSERT_TRUE(decoded.picture) << decoded.problem;
    EXPECT_EQ(decoded.picture->width, 600);
}

TEST(ScreenImages, AnUndecodableCaptureHasItsReasonAndNoImage) {
    const std::string fake = std::string("\x89PNG\r\n\x1a\n", 8) + "IHDR...IEND";
    const Json result = Fit({{1, BigScreen()}, {2, fake}, {3, std::nullopt}}, {});
    ASSERT_EQ(result["content"].size(), 2u);  // VM 1's only
    const std::string text = result["content"][0]["text"];
    EXPECT_NE(text.find("VM 2: the capture is no image ("), std::string::npos) << text;
    EXPECT_EQ(text.find("VM 3:"), std::string::npos) << "its failure is the console's: " << text;
}

TEST(ScreenImages, APictureOfTooManyPixelsIsRefusedUndecoded) {
    const std::string png = image::Encode(Noise(200, 100), image::Format::kPng, 0);
    EXPECT_TRUE(image::Decode(png, 20000).picture);
    const image::Decoded refused = image::Decode(png, 19999);
    EXPECT_FALSE(refused.picture);
    EXPECT_NE(refused.problem.find("200x100"), std::string::npos) << refused.problem;
}

struct ArgumentRow {
    const char* name;
    const char* arguments;
    const char* refusal;  // null: read
};

class ScreenArgumentTest : public testing::TestWithParam<ArgumentRow> {};

TEST_P(ScreenArgumentTest, ReadWithinTheirLimitsAndTakenOut) {
    const ArgumentRow& row = GetParam();
    nlohmann::json arguments = nlohmann::json::parse(row.arguments);
    agent::ScreenArguments read;
    const std::optional<std::string> refusal = agent::TakeScreenArguments(arguments, &read);
    if (row.refusal) {
        ASSERT_TRUE(refusal);
        EXPECT_EQ(*refusal, row.refusal);
    } else {
        EXPECT_FALSE(refusal) << *refusal;
        EXPECT_EQ(arguments, nlohmann::json::parse(R"({"set":"1"})"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ScreenArgumentTest,
    testing::Values(
        ArgumentRow{"none", R"({"set":"1"})", nullptr},
        ArgumentRow{"least", R"({"set":"1","max_bytes":1000,"max_width":64})", nullptr},
        ArgumentRow{"most", R"({"set":"1","max_bytes":50000000,"max_width":16384})", nullptr},
        ArgumentRow{"jpeg", R"({"set":"1","format":"jpeg"})", nullptr},
        ArgumentRow{"null_as_not_given", R"({"set":"1","max_width":null})", nullptr},
        ArgumentRow{"budget_too_small", R"({"set":"1","max_bytes":999})",
                    "max_bytes must be a whole number from 1000 to 50000000"},
        ArgumentRow{"budget_too_large", R"({"set":"1","max_bytes":50000001})",
                    "max_bytes must be a whole number from 1000 to 50000000"},
        ArgumentRow{"budget_past_64_bits", R"({"set":"1","max_bytes":18446744073709551615})",
                    "max_bytes must be a whole number from 1000 to 50000000"},
        ArgumentRow{"width_too_small", R"({"set":"1","max_width":63})",
                    "max_width must be a whole number from 64 to 16384"},
        ArgumentRow{"width_a_text", R"({"set":"1","max_width":"640"})",
                    "max_width must be a whole number from 64 to 16384"},
        ArgumentRow{"format_unknown", R"({"set":"1","format":"gif"})",
                    "format must be png or jpeg"}),
    RowName());

}  // namespace
