// Seconds on the system's high-resolution steady clock (QueryPerformanceCounter), from an
// arbitrary start; the same clock in every thread.
#pragma once

double SteadySeconds();
