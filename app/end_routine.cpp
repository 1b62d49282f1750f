#include "app/end_routine.h"

#include <utility>

namespace end_routine {
namespace {

Routine g_routine = nullptr;

}  // namespace

void Register(Routine routine) {
    g_routine = routine;
}

void Run() {
    // Taken out first, so a nested call during the routine cannot run it twice.
    if (Routine routine = std::exchange(g_routine, nullptr)) routine();
}

void Drop() {
    g_routine = nullptr;
}

}  // namespace end_routine
