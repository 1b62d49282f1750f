#!/usr/bin/env bash
# The MCP client test: MEmuFarm.exe mcp of BUILD_DIR (default build/win64) under 64-bit Wine,
# in a throw-away prefix with the simulated emulator (VMs 0 to 3), driven by the MCP SDK's
# client (npm ci from the committed lock file), and bad input over its raw pipes; then
# MEmuFarm serve's /mcp driven by the same client over Streamable HTTP, and by the MCP
# conformance suite's server scenarios (conformance/ lets its runner load on Node 20). Prints
# node's TAP report; "# pass N" and "# fail N" are what scripts/test.sh counts.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build/win64}" && pwd)
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/memu-mcp-test-prefix.XXXXXX)
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
"$root/scripts/sim-prefix.sh" "$WINEPREFIX" 4 --bin "$build/bin/sim" >/dev/null || exit 1
# The prefix's wineserver, started here with no pipe of ours: one started by the first Wine
# program would hold that program's standard handles, the test's pipes, open after it ended.
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
export SIM_ROOT="$WINEPREFIX/drive_c/Program Files/Microvirt"
export MEMUFARM_EXE="$build/bin/MEmuFarm.exe"
(cd "$here" && npm ci --no-audit --no-fund >/dev/null) || { echo "# fail 1 (npm ci)"; exit 1; }
cd "$here" && timeout 1200 node --test --test-concurrency=1 --test-reporter=tap client.test.mjs \
  bad_input.test.mjs http.test.mjs conformance.test.mjs
