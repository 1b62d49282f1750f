// MEmuFarm mcp: the farm's commands served as MCP tools over standard input and output.
#pragma once

#include "farm/command/request.h"

// Serves until standard input ends; returns the exit code.
int ServeMcp(const FarmRequest& given);
