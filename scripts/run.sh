#!/usr/bin/env bash
# Builds the program and the simulated emulator for 64-bit Windows, installs the simulated
# emulator into a throw-away Wine prefix (build/run/prefix) and runs the program against it.
# With a display the window opens there. Without one it runs on a virtual display, clicks
# 一键生成快照 once (3 clones), refreshes the list, prints the log and saves screenshots.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out="$root/build/run"
bin="$root/build/win64/bin"

headless_session() {  # runs inside xvfb-run
  cd "$bin"
  "$root/scripts/wine-run" MEmuSnapshotTool.exe &
  local app=$!
  # run_demo waits for the window, performs the run and the refresh, and prints the log.
  sleep 3
  import -window root "$out/1-started.png" 2>/dev/null || true
  local status=0
  "$root/scripts/wine-run" run_demo.exe | tee "$out/log.txt" || status=$?
  import -window root "$out/2-after-run.png" 2>/dev/null || true
  echo "MEmuFarm list (the console companion, against the same simulated emulator):"
  "$root/scripts/wine-run" MEmuFarm.exe list | tee "$out/farm-list.txt" || status=$?
  "$root/scripts/wine-run" run_demo.exe close >/dev/null 2>&1 || true
  wait "$app" || true
  return "$status"
}

if [ "${1:-}" = "--headless-session" ]; then
  headless_session
  exit
fi

bash scripts/deps.sh
cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" >/dev/null
cmake --build build/win64 --target MEmuSnapshotTool MEmuFarm sim_tools run_demo
mkdir -p "$out"
export WINEPREFIX="$out/prefix"
bash scripts/sim-prefix.sh "$WINEPREFIX" 3
/usr/lib/wine/wineserver -w || true

if [ -n "${DISPLAY:-}" ]; then
  cd "$bin"
  LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 exec "$root/scripts/wine-run" MEmuSnapshotTool.exe
fi

echo "No display: running on a virtual display and driving one one-key run."
LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 xvfb-run -a -s "-screen 0 1024x768x24 -maxclients 2048" bash "$0" --headless-session
echo "Screenshots: $out/1-started.png $out/2-after-run.png"
echo "Log text: $out/log.txt"
