// MEmuFarm mcp: the farm's commands served as MCP tools over standard input and output.
#pragma once

#include <optional>
#include <string>

#include "farm/command/request.h"
#include "farm/run/farm_system.h"

// The emulator's install, found once at a server's start: --install-dir's folder when it holds
// memuc.exe, else the one the registry or the desktop names; with '\\' last. Nothing with
// *problem and *exit_code (3) when there is none.
std::optional<std::string> InstallFoundOnce(const FarmRequest& request, FarmSystem& system,
                                            std::string* problem, int* exit_code);

// A folder of this server's own for screen captures (%TEMP%\MEmuFarm-mcp-PID\), made; empty
// when it cannot be had.
std::string McpCaptureFolder();
// A folder of this process's own in the temporary folder, MEmuFarm-PURPOSE-PID, made when
// missing; full, GBK, ending in a backslash; empty when it cannot be had.
std::string CaptureFolder(const std::wstring& purpose);

// Serves until standard input ends; returns the exit code.
int ServeMcp(const FarmRequest& given);
