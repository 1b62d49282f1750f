// The four program-wide variables. They live from start-up to the end routine.
#pragma once

#include <memory>
#include <string>

#include "control/emulator_control.h"
#include "control/vm_record.h"

struct ProgramState {
    std::unique_ptr<EmulatorControl> control;  // the one control module object
    VmList vms;                                // the VM list shown in 组合框1
    std::string install_dir;                   // ends in a backslash, or empty
    std::string tools_dir;                     // folder holding MEmuManage.exe, or empty
};

ProgramState& State();

// The end routine's work: destroys the control module object, then the VM records first to
// last and the list, then the install directory and the tools directory texts.
void ReleaseProgramState();
