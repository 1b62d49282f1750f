#!/usr/bin/env bash
# Builds the benchmark and the simulated emulator for Windows x86_64, runs the benchmark under
# 64-bit Wine on a virtual display in a fresh throw-away prefix and prints its table.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build/bench-win64"
# A prefix of this run's own, so that two runs at once never wipe each other's.
PREFIX="${BENCH_PREFIX:-$(mktemp -d /tmp/bench-prefix.XXXXXX)}"

if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-x86_64.cmake" >/dev/null
fi
cmake --build "$BUILD" --target memu_bench MEmuFarm sim_tools test_child -j2

rm -rf "$PREFIX"
export WINEPREFIX="$PREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
"$ROOT/scripts/wine-run" wineboot --init >/dev/null 2>&1 || true
# Let the prefix's desktop process, started here without a display, end: the benchmark starts
# its own on the virtual display, where the simulated VMs' windows are then found.
/usr/lib/wine/wineserver -w

# The page section's browser runs here, on the host: once memu_bench names its service's port
# and token in page-browser.txt, bench/page/first-load.mjs loads the page in Chromium and its
# answer goes to page-browser-row.txt (or "error WHY"), which memu_bench reads into its table.
browser_pid=""
wants_page=1
if [ $# -gt 0 ]; then
  wants_page=0
  for section in "$@"; do [ "$section" = page ] && wants_page=1; done
fi
rm -f "$BUILD/bin/page-browser.txt" "$BUILD/bin/page-browser-row.txt"
if [ "$wants_page" = 1 ]; then
  if [ ! -d "$ROOT/tests/page/node_modules/playwright-core" ]; then
    (cd "$ROOT/tests/page" && npm ci --no-audit --no-fund >/dev/null) || true
  fi
  (
    request="$BUILD/bin/page-browser.txt"
    answer="$BUILD/bin/page-browser-row.txt"
    # Bounded: all sections before it take well under three hours.
    for ((i = 0; i < 21600; i++)); do [ -f "$request" ] && break; sleep 0.5; done
    [ -f "$request" ] || exit 0
    read -r port token <"$request"
    rc=0
    timeout 450 node "$ROOT/bench/page/first-load.mjs" "$port" "$token" 200 \
      >"$answer.part" 2>"$answer.err" || rc=$?
    if [ "$rc" -ne 0 ]; then
      echo "error the browser's script failed (exit $rc): $(tail -n 1 "$answer.err" | tr -d '\r')" \
        >"$answer.part"
    fi
    mv "$answer.part" "$answer"
  ) &
  browser_pid=$!
fi

cd "$BUILD/bin"
status=0
xvfb-run -a -s "-screen 0 1280x1024x24 -maxclients 2048" "$ROOT/scripts/wine-run" ./memu_bench.exe "$@" || status=$?
if [ -n "$browser_pid" ]; then
  kill "$browser_pid" 2>/dev/null || true
  wait "$browser_pid" 2>/dev/null || true
fi
rm -f "$BUILD/bin/page-browser.txt" "$BUILD/bin/page-browser-row.txt" "$BUILD/bin/page-browser-row.txt.err"
/usr/lib/wine/wineserver -k 2>/dev/null || true
[ -n "${BENCH_PREFIX:-}" ] || rm -rf "$PREFIX"
exit $status
