#include "control/control_factory_win.h"

#include "control/control_platform_win.h"

namespace {

// Holds the platform so that it is built before, and outlives, the control object using it.
struct PlatformHolder {
    WinControlPlatform platform;
};

class WinEmulatorControl : private PlatformHolder, public EmulatorControl {
public:
    WinEmulatorControl() : PlatformHolder(), EmulatorControl(PlatformHolder::platform) {}
};

}  // namespace

std::unique_ptr<EmulatorControl> CreateEmulatorControl() {
    return std::make_unique<WinEmulatorControl>();
}
