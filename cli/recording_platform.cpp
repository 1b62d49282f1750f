#include "cli/recording_platform.h"

std::string RecordingPlatform::Run(const std::string& command, int timeout_ms) {
    std::string output = inner_.Run(command, timeout_ms);
    entries_.push_back({command, output, false});
    return output;
}

void RecordingPlatform::StartDetached(const std::string& command) {
    inner_.StartDetached(command);
    entries_.push_back({command, {}, true});
}
