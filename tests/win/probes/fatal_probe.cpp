// Raises one fatal runtime error the way the program does, for fatal_box_test.
//
//   fatal_probe MODE MARKER
//     below   reads element 0 of a one-element array
//     above   reads element 2 of a one-element array
//     alloc   asks for more memory than exists
//     normal  raises nothing and ends normally
// The registered end routine writes the file MARKER, so the test can tell whether it ran.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/end_routine.h"
#include "app/fatal_box_win.h"
#include "probes/fatal_probe_sites.h"
#include "text/checked_array.h"

namespace {

std::string g_marker;

void WriteMarker() {
    if (FILE* f = std::fopen(g_marker.c_str(), "wb")) std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
    InstallFatalBox();
    if (argc < 3) return 2;
    const std::string mode = argv[1];
    g_marker = argv[2];
    end_routine::Register(WriteMarker);

    CheckedArray<int> one;
    one.Append(7);
    int sum = 0;
    if (mode == "below") sum += one.At(0, kProbeIndexBelowOne);
    if (mode == "above") sum += one.At(2, kProbeIndexAboveCount);
    if (mode == "alloc") {
        volatile size_t huge = SIZE_MAX / 2;
        char* block = new char[huge];
        block[0] = 1;
        sum += block[0];
        delete[] block;
    }
    std::printf("%d\n", sum);
    end_routine::Run();
    return 0;
}
