#include "agent/screen_images.h"

#include "text/gbk_text.h"

namespace agent {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kBudgetName = "max_bytes";
constexpr const char* kWidthName = "max_width";
constexpr const char* kFormatName = "format";

struct Choice {
    const char* word;
    image::Format format;
};
constexpr Choice kFormats[] = {{"png", image::Format::kPng}, {"jpeg", image::Format::kJpeg}};

std::string WholeRange(const char* name, int64_t low, int64_t high) {
    return std::string(name) + " must be a whole number from " + std::to_string(low) + " to " +
           std::to_string(high);
}

std::optional<int64_t> Whole(const nlohmann::json& value, int64_t low, int64_t high) {
    if (!value.is_number_integer()) return std::nullopt;
    const int64_t number = value.get<int64_t>();
    if (value.is_number_unsigned() && value.get<uint64_t>() > static_cast<uint64_t>(high))
        return std::nullopt;
    if (number < low || number > high) return std::nullopt;
    return number;
}

size_t Base64Size(size_t bytes) {
    return (bytes + 2) / 3 * 4;
}

std::string Size(int width, int height) {
    return gbk::Decimal(width) + "x" + gbk::Decimal(height);
}

}  // namespace

void AddScreenProperties(Json& properties) {
    properties[kBudgetName] = {
        {"type", "integer"},
        {"minimum", kLeastImageBudget},
        {"maximum", kMostImageBudget},
        {"default", kDefaultImageBudget},
        {"description",
         "the most bytes the whole result may take as sent (base64 and text included); over it "
         "the screens are scaled down evenly, and only one that would not fit even " +
             std::to_string(kLeastImageWidth) + " px wide is left out (the text says which)"}};
    properties[kWidthName] = {{"type", "integer"},
                              {"minimum", kLeastMaxWidth},
                              {"maximum", kMostMaxWidth},
                              {"description",
                               "the widest image sent, in pixels: a wider screen is scaled down "
                               "keeping its aspect (the text gives its full size)"}};
    Json words = Json::array();
    for (const Choice& choice : kFormats) words.push_back(choice.word);
    properties[kFormatName] = {{"type", "string"},
                               {"enum", words},
                               {"default", kFormats[0].word},
                               {"description", "the images' format"}};
}

std::optional<std::string> TakeScreenArguments(nlohmann::json& arguments, ScreenArguments* read) {
    if (!arguments.is_object()) return std::nullopt;  // the reading of the rest refuses it
    if (arguments.contains(kBudgetName) && !arguments[kBudgetName].is_null()) {
        const std::optional<int64_t> budget =
            Whole(arguments[kBudgetName], kLeastImageBudget, kMostImageBudget);
        if (!budget) return WholeRange(kBudgetName, kLeastImageBudget, kMostImageBudget);
        read->max_bytes = *budget;
    }
    if (arguments.contains(kWidthName) && !arguments[kWidthName].is_null()) {
        const std::optional<int64_t> width =
            Whole(arguments[kWidthName], kLeastMaxWidth, kMostMaxWidth);
        if (!width) return WholeRange(kWidthName, kLeastMaxWidth, kMostMaxWidth);
        read->max_width = static_cast<int>(*width);
    }
    if (arguments.contains(kFormatName) && !arguments[kFormatName].is_null()) {
        const nlohmann::json& value = arguments[kFormatName];
        const Choice* found = nullptr;
        for (const Choice& choice : kFormats)
            if (value.is_string() && value.get<std::string>() == choice.word) found = &choice;
        if (!found)
            return std::string(kFormatName) + " must be " + kFormats[0].word + " or " +
                   kFormats[1].word;
        read->format = found->format;
    }
    arguments.erase(kBudgetName);
    arguments.erase(kWidthName);
    arguments.erase(kFormatName);
    return std::nullopt;
}

Json ScreensWithinBudget(const std::vector<Capture>& captures, const ScreenArguments& arguments,
                         const Assemble& assemble) {
    std::string unread;
    std::vector<int32_t> shown;  // the VMs of the pictures, in order
    std::vector<image::Picture> pictures;
    for (const Capture& capture : captures) {
        if (!capture.bytes) continue;
        image::Decoded decoded = image::Decode(*capture.bytes, kMostCapturePixels);
        if (!decoded.picture) {
            unread += "VM " + gbk::Decimal(capture.index) + ": the capture is no image (" +
                      decoded.problem + ")\n";
            continue;
        }
        shown.push_back(capture.index);
        pictures.push_back(std::move(*decoded.picture));
    }
    std::vector<const image::Picture*> pointers;
    for (const image::Picture& picture : pictures) pointers.push_back(&picture);
    const char* mime = image::MimeType(arguments.format);

    // The note for these images: each screen sent smaller than it is, each left out.
    const auto note = [&](const std::vector<const image::Encoded*>& images) {
        std::string text = unread;
        for (size_t i = 0; i < images.size(); ++i) {
            const std::string vm = "VM " + gbk::Decimal(shown[i]) + ": ";
            if (!images[i]) {
                text += vm + "screen left out: even " + gbk::Decimal(kLeastImageWidth) +
                        " px wide the result would pass max_bytes\n";
            } else if (images[i]->width != pictures[i].width) {
                text += vm + "the screen is " + Size(pictures[i].width, pictures[i].height) +
                        ", sent as " + Size(images[i]->width, images[i]->height) + "\n";
            }
        }
        return text;
    };
    const auto excess = [&](const std::vector<const image::Encoded*>& images) {
        std::vector<ResultImage> empty;
        size_t data = 0;
        for (const image::Encoded* encoded : images) {
            if (!encoded) continue;
            empty.push_back({"", mime});
            data += Base64Size(encoded->bytes.size());
        }
        const size_t size = assemble(empty, note(images)).dump().size() + data;
        return static_cast<int64_t>(size) - arguments.max_bytes;
    };
    const image::FitOptions options{arguments.format, arguments.max_width.value_or(0),
                                    kLeastImageWidth};
    const std::vector<std::optional<image::Encoded>> fitted =
        image::FitToBudget(pointers, options, excess);

    std::vector<ResultImage> images;
    std::vector<const image::Encoded*> sent;
    for (const std::optional<image::Encoded>& encoded : fitted) {
        sent.push_back(encoded ? &*encoded : nullptr);
        if (encoded) images.push_back({encoded->bytes, mime});
    }
    return assemble(images, note(sent));
}

}  // namespace agent
