// Turns an edit box into an integer-only box: typed characters other than '-', digits and
// control characters are dropped, and the text is normalised when the box loses the focus.
#pragma once

#include <windows.h>

bool MakeIntegerEdit(HWND edit);
