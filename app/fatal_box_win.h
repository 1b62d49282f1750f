// The Windows reaction to a fatal runtime error: a message box titled "错误" with the error
// icon, then the process ends with exit code -1 without running the end routine.
#pragma once

// Installs the reaction as the handler of fatal::Raise. Call first thing at start-up.
void InstallFatalBox();
