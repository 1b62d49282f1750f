#include "app/program_state.h"

#include <utility>

ProgramState& State() {
    static ProgramState state;
    return state;
}

void ReleaseProgramState() {
    ProgramState& state = State();
    // The control module object first, then every VM record (first to last, which is how the
    // array destroys them), then the two texts.
    state.control.reset();
    state.vms = VmList();
    std::string().swap(state.install_dir);
    std::string().swap(state.tools_dir);
}
