// MEmuFarm serve: the farm's commands as an HTTP service in the owner's session.
#pragma once

#include "farm/command/request.h"

// Serves until the first Ctrl+C (or the console closing, the session ending); returns the
// exit code: 0 after a stop, 2 for options or a token it cannot take, 3 without the emulator,
// 1 when the address cannot be listened on.
int ServeHttp(const FarmRequest& request);
