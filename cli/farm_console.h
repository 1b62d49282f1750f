// What the console companion's commands need from the console and the system besides the
// control module. Portable: tests give fakes.
#pragma once

#include <string>
#include <string_view>

#include "control/control_platform.h"
#include "control/emulator_control.h"
#include "install/manager_console.h"

class RecordingPlatform;

class FarmConsole {
public:
    virtual ~FarmConsole() = default;
    // Text output (GBK), standard output and standard error.
    virtual void Print(std::string_view text) = 0;
    virtual void PrintError(std::string_view text) = 0;
    // One JSON document (UTF-8) on standard output.
    virtual void PrintJson(std::string_view utf8) = 0;
    virtual std::string Utf8FromGbk(std::string_view text) = 0;
    // True once the user pressed Ctrl+C.
    virtual bool StopRequested() = 0;
};

// Thrown by the platform when the --deadline passes while it waits for a tool; the tool is
// left running.
struct DeadlinePassed {
    std::string command;  // the line it was waiting for
    std::string output;   // what the tool had written by then
};

struct FarmServices {
    ControlPlatform& platform;    // the system, for the clone job's own command lines
    RecordingPlatform& recorder;  // what `control` ran, with outputs
    EmulatorControl& control;     // built on `recorder`
    ConsoleBuildStore& builds;    // the manager console builds
    FileReplacer& files;
    FarmConsole& console;
};
