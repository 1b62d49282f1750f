// The simulated adb server: what the emulator's adb.exe runs in the background. It listens on
// 127.0.0.1 at ANDROID_ADB_SERVER_PORT (5037 when unset) and answers the smart-socket requests
// from the same simulated devices as adb.exe calls. "adb start-server" starts it as a detached
// process ("adb.exe fork-server server"); "adb kill-server" (host:kill) ends it.
#pragma once

#include <string>

namespace sim {

// The hidden arguments that make adb.exe the server.
constexpr const char kServerArgument[] = "fork-server";

// ANDROID_ADB_SERVER_PORT when it holds a port from 1 to 65535, else 5037.
int AdbServerPort();

// Serves until a host:kill request arrives; returns 1 when the port cannot be had.
int RunAdbServer(const std::string& root, int port);

// adb start-server: starts the server unless one answers on the port, and waits until it
// listens. Prints what adb prints; returns the exit code.
int StartServerCommand(int port);
// adb kill-server: asks the server on the port to end and waits until it has gone.
int KillServerCommand(int port);

}  // namespace sim
