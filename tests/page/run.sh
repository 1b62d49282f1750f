#!/usr/bin/env bash
# The farm page's browser test: MEmuFarm.exe serve of BUILD_DIR (default build/win64) under
# 64-bit Wine on a free 127.0.0.1 port, in a throw-away prefix with the simulated emulator
# (VMs 0 to 3, 0 and 1 running), its page driven in Debian's Chromium by playwright-core
# (npm ci from the committed lock file). Screenshots of the page go to build/page-shots/.
# Prints node's TAP report; "# pass N" and "# fail N" are what scripts/test.sh counts.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build/win64}" && pwd)
tmp=$(mktemp -d /tmp/memu-page-test.XXXXXX)
export WINEPREFIX="$tmp/prefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  /usr/lib/wine/wineserver -k 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
[ -x /usr/bin/chromium ] || { echo "# fail 1 (no /usr/bin/chromium: scripts/deps.sh installs it)"; exit 1; }
"$root/scripts/sim-prefix.sh" "$WINEPREFIX" 4 --running 2 --bin "$build/bin/sim" >/dev/null \
  || { echo "# fail 1 (the simulated emulator could not be installed)"; exit 1; }
# The prefix's wineserver, started here with no pipe of ours (see tests/mcp/run.sh).
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
(cd "$here" && npm ci --no-audit --no-fund >/dev/null) || { echo "# fail 1 (npm ci)"; exit 1; }

port=$(free_port)
export ANDROID_ADB_SERVER_PORT
ANDROID_ADB_SERVER_PORT=$(free_port)  # the simulated adb server's
token=$(head -c 24 /dev/urandom | od -An -tx1 | tr -d ' \n')
printf '%s\r\n' "$token" >"$tmp/token.txt"
windows() { printf 'Z:%s' "${1//\//\\}"; }  # a path of this machine as Wine's programs name it
# Short intervals, so that a round and a thumbnail come within the test's waits.
/usr/lib/wine/wine64 "$build/bin/MEmuFarm.exe" serve --listen "127.0.0.1:$port" \
  --token-file "$(windows "$tmp/token.txt")" --health-interval 2 --thumb-interval 2 \
  >"$tmp/server.out" 2>"$tmp/server.err" </dev/null &
server_pid=$!
for ((i = 0; i < 120; i++)); do
  grep -q "^http://127.0.0.1:$port/" "$tmp/server.out" 2>/dev/null &&
    curl -sf --max-time 5 "http://127.0.0.1:$port/healthz" >/dev/null && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.5
done
curl -sf --max-time 5 "http://127.0.0.1:$port/healthz" >/dev/null ||
  { echo "# fail 1 (the service did not start)"; sed 's/^/# /' "$tmp/server.err"; exit 1; }

export PAGE_URL="http://127.0.0.1:$port" PAGE_TOKEN="$token" SHOTS_DIR="$root/build/page-shots"
export SIM_ROOT="$WINEPREFIX/drive_c/Program Files/Microvirt"
cd "$here" && timeout 600 node --test --test-concurrency=1 --test-reporter=tap page.test.mjs
status=$?
if [ "$status" -ne 0 ]; then
  # What the service was asked besides the page's own polling, then how it ended.
  echo "# ---- service (its requests but the state and the pictures)"
  grep -v -e ' page-state - ' -e ' page-image - ' -e ' page health round' "$tmp/server.err" |
    tail -n 200 | sed 's/^/# /'
  echo "# ---- service (its last lines)"
  tail -n 20 "$tmp/server.err" | sed 's/^/# /'
fi
exit "$status"
