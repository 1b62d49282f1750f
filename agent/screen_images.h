// screenshot's own arguments for agents (max_bytes, max_width, format), declared here once:
// their schema in the tool's inputSchema, their reading, and the captured screens fitted to
// them as the result's images.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "agent/screen_limits.h"
#include "agent/tool_result.h"
#include "image/image_scaling.h"

namespace agent {

struct ScreenArguments {
    int64_t max_bytes = kDefaultImageBudget;
    std::optional<int> max_width;
    image::Format format = image::Format::kPng;
};

// Adds their properties to screenshot's inputSchema properties.
void AddScreenProperties(nlohmann::ordered_json& properties);

// Reads them and takes them out of `arguments`; the refusal (GBK) when one is wrong.
std::optional<std::string> TakeScreenArguments(nlohmann::json& arguments, ScreenArguments* read);

// One VM's capture as read back; nothing when the capture failed (the console's text has why).
struct Capture {
    int32_t index = 0;
    std::optional<std::string> bytes;
};

// The result with these images and, after the console's text, this note (GBK).
using Assemble = std::function<nlohmann::ordered_json(const std::vector<ResultImage>& images,
                                                      const std::string& note)>;

// The result with one image per capture that is an image, in the format asked for, as large as
// fits in max_bytes as sent; the note says which screen was scaled to what, which capture is
// no image and why, and which screen was left out because even at the least width it would
// not fit.
nlohmann::ordered_json ScreensWithinBudget(const std::vector<Capture>& captures,
                                           const ScreenArguments& arguments,
                                           const Assemble& assemble);

}  // namespace agent
