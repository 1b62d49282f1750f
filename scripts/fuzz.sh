#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address and undefined-behaviour sanitizers) in
# build/fuzz and runs each for SECONDS seconds on its seed corpus plus the saved regression
# inputs. Prints "fuzz ok <target>" for every target that ran without a crash; exits non-zero
# when the build fails or any target crashed, naming the crash log.
#
# Inputs that once crashed a target are kept as fuzz/regressions/<target>-<name> and replayed
# before that target fuzzes. The committed seeds in fuzz/corpus/<target>/ are never written to.
#
# Usage: scripts/fuzz.sh SECONDS      (10 from scripts/test.sh; 600 for a long run by hand)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=${1:-10}
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: scripts/fuzz.sh SECONDS" >&2
  exit 2
fi

targets=(fuzz_gbk_text fuzz_list_reply fuzz_marker fuzz_command_line fuzz_farm_args
         fuzz_quoting fuzz_adb_reply)
build=$root/build/fuzz
logs=$build/logs
mkdir -p "$logs"

if ! cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$logs/configure.log" 2>&1; then
  echo "fuzz build: configure failed, see $logs/configure.log"
  exit 1
fi
if ! cmake --build "$build" -j 2 >"$logs/build.log" 2>&1; then
  echo "fuzz build: compile failed, see $logs/build.log"
  exit 1
fi

status=0
for target in "${targets[@]}"; do
  work=$(mktemp -d "/tmp/$target.XXXXXX")
  seeds=$root/fuzz/corpus/$target
  log=$logs/$target.log
  # Saved regression inputs run first, as single inputs, so a known fault fails at once.
  regressions=()
  for file in "$root/fuzz/regressions/$target"-*; do
    [ -f "$file" ] && regressions+=("$file")
  done
  if [ ${#regressions[@]} -gt 0 ] &&
      ! "$build/$target" "${regressions[@]}" >"$log.regressions" 2>&1; then
    echo "fuzz CRASH $target on a saved regression input, see $log.regressions"
    status=1
    rm -rf "$work"
    continue
  fi
  # The committed seeds are read only; new inputs go to a throw-away corpus.
  if "$build/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix="$work/" -print_final_stats=1 "$work" "$seeds" >"$log" 2>&1; then
    echo "fuzz ok $target"
  else
    crash=$(ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* 2>/dev/null | head -n 1)
    if [ -n "$crash" ]; then
      mkdir -p "$logs/artifacts"
      cp "$crash" "$logs/artifacts/"
      crash="$logs/artifacts/$(basename "$crash")"
    fi
    echo "fuzz CRASH $target, log $log${crash:+, input $crash}"
    status=1
  fi
  rm -rf "$work"
done
exit $status
