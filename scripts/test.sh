#!/usr/bin/env bash
# Builds everything (native, Windows x86_64, Windows i686) and runs every test:
# native unit tests, then the Windows-side tests under 64-bit Wine on a virtual display, then
# the release package's checks.
# Ends with one summary line: "tests: N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/deps.sh || exit 1

jobs=$(nproc)
build() {  # build DIR [cmake args...]
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null || return 1
  cmake --build "$dir" -j "$jobs" || return 1
}

passed=0
failed=0
count() {  # count LOGFILE: adds ctest's totals
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
  if [ -z "$line" ]; then failed=$((failed + 1)); return; fi
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

echo "== native build and unit tests"
if build build/native; then
  (cd build/native && ctest --output-on-failure -j "$jobs") 2>&1 | tee build/native-ctest.log
  count build/native-ctest.log
else
  echo "native build failed"; failed=$((failed + 1))
fi

echo "== Windows i686 build (compiled and linked; 32-bit Wine cannot run here)"
if ! build build/win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake"; then
  echo "i686 build failed"; failed=$((failed + 1))
fi

echo "== Windows x86_64 build and tests under Wine"
if build build/win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake"; then
  export WINEPREFIX
  WINEPREFIX=$(mktemp -d /tmp/memu-snapshot-test-prefix.XXXXXX)
  scripts/wine-run wineboot --init >/dev/null 2>&1
  # Let the prefix's desktop process, started here without a display, end: the tests start
  # their own on the virtual display.
  /usr/lib/wine/wineserver -w
  # One test at a time: tests share the prefix's registry, desktop and display.
  (cd build/win64 && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j 1) 2>&1 \
    | tee build/win64-ctest.log
  count build/win64-ctest.log
  WINEPREFIX=$WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null
  rm -rf "$WINEPREFIX"
else
  echo "x86_64 build failed"; failed=$((failed + 1))
fi

# ---- Release package: built from scratch in its own trees, then checked: listing, checksums,
# ---- texts, import tables, no time stamps or build paths, the same program bytes as the
# ---- Windows builds above, the same archive when written again.
echo "== release package"
rm -rf build/package
if bash scripts/package.sh >build/package.log 2>&1; then
  python3 scripts/check_package.py 2>&1 | tee build/package-check.log
  passed=$((passed + $(grep -c '^package ok' build/package-check.log)))
  failed=$((failed + $(grep -c '^package FAILED' build/package-check.log)))
else
  tail -n 30 build/package.log
  echo "packaging failed"; failed=$((failed + 1))
fi
# ---- end of the release package section

if [ -x scripts/fuzz.sh ]; then
  echo "== fuzzing (short runs)"
  if scripts/fuzz.sh 10 2>&1 | tee build/fuzz.log; then
    passed=$((passed + $(grep -c '^fuzz ok' build/fuzz.log)))
  else
    failed=$((failed + 1))
  fi
fi

echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
