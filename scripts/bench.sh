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

cd "$BUILD/bin"
status=0
xvfb-run -a -s "-screen 0 1280x1024x24 -maxclients 2048" "$ROOT/scripts/wine-run" ./memu_bench.exe "$@" || status=$?
/usr/lib/wine/wineserver -k 2>/dev/null || true
[ -n "${BENCH_PREFIX:-}" ] || rm -rf "$PREFIX"
exit $status
