// Creates the program's one control module object, bound to the real system.
#pragma once

#include <memory>

#include "control/emulator_control.h"

std::unique_ptr<EmulatorControl> CreateEmulatorControl();
