// The system's own words for an error code, as GBK text.
#pragma once

#include <windows.h>

#include <string>

// "The system cannot find the file specified. (error 2)"; just "error N" when the system has
// no text for the code.
std::string SystemErrorText(DWORD code);
