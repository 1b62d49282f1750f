#!/usr/bin/env bash
# Builds everything (native, Windows x86_64, Windows i686) and runs every test:
# native unit tests, then the Windows-side tests on a virtual display, under 64-bit Wine for
# the x86_64 build (then the MCP client test against its MEmuFarm mcp and the Ansible
# playbook test against its MEmuFarm serve) and under 32-bit Wine
# for the i686 build, then the release package's checks.
# Ends with one summary line: "tests: N passed, N failed", plus ", N not run" when a machine
# that cannot run 32-bit programs leaves the i686 tests out.
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
not_run=0
count() {  # count LOGFILE: adds ctest's totals
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
  if [ -z "$line" ]; then failed=$((failed + 1)); return; fi
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}
count_tap() {  # count_tap LOGFILE: adds a TAP report's "# pass N" and "# fail N"
  local pass fail
  pass=$(sed -n 's/^# pass //p' "$1" | tail -n 1)
  fail=$(sed -n 's/^# fail //p' "$1" | tail -n 1)
  if [ -z "$pass" ]; then
    failed=$((failed + 1))
  else
    passed=$((passed + pass))
    failed=$((failed + ${fail:-0}))
  fi
}
list_skips() {  # list_skips BUILD_DIR: the GoogleTest cases that skipped themselves, and why
  awk '/: Skipped$/ { getline why } /^\[  SKIPPED \] [^ ]+ \(/ { print "skipped: " $4 ": " why }' \
    "$1/Testing/Temporary/LastTest.log" 2>/dev/null
}

windows_suite() {  # windows_suite BUILD_DIR: that build's Windows tests, in a fresh prefix
  export WINEPREFIX
  WINEPREFIX=$(mktemp -d /tmp/memu-snapshot-test-prefix.XXXXXX)
  scripts/wine-run wineboot --init >/dev/null 2>&1
  # Let the prefix's desktop process, started here without a display, end: the tests start
  # their own on the virtual display.
  /usr/lib/wine/wineserver -w
  # One test at a time: tests share the prefix's registry, desktop and display.
  (cd "$1" && xvfb-run -a -s "-screen 0 1280x1024x24 -maxclients 2048" ctest --output-on-failure -j 1) 2>&1 \
    | tee "$1-ctest.log"
  count "$1-ctest.log"
  list_skips "$1"
  WINEPREFIX=$WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null
  rm -rf "$WINEPREFIX"
}

echo "== native build and unit tests"
if build build/native; then
  (cd build/native && ctest --output-on-failure -j "$jobs") 2>&1 | tee build/native-ctest.log
  count build/native-ctest.log
else
  echo "native build failed"; failed=$((failed + 1))
fi

echo "== Windows x86_64 build and tests under Wine"
if build build/win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake"; then
  windows_suite build/win64
  # MEmuFarm mcp driven by the MCP SDK's own client under 64-bit Wine (tests/mcp/).
  echo "== MCP client test (x86_64 build)"
  bash tests/mcp/run.sh build/win64 2>&1 | tee build/mcp-client.log
  count_tap build/mcp-client.log
  # The fleet playbook run by ansible-playbook against MEmuFarm serve under Wine (tests/ansible/).
  echo "== Ansible playbook test (x86_64 build)"
  bash tests/ansible/run.sh build/win64 2>&1 | tee build/ansible.log
  count_tap build/ansible.log
  # The farm page of MEmuFarm serve in Debian's Chromium, driven by playwright-core (tests/page/).
  echo "== Farm page browser test (x86_64 build)"
  bash tests/page/run.sh build/win64 2>&1 | tee build/page-browser.log
  count_tap build/page-browser.log
else
  echo "x86_64 build failed"; failed=$((failed + 1))
fi

# ---- i686: the same Windows tests under 32-bit Wine (needs a machine that runs 32-bit programs)
i686_blocker() {  # prints why the i686 tests cannot run here; fails when they can
  scripts/check-32bit.sh || return 0
  [ -x /usr/lib/wine/wine ] && return 1
  echo "32-bit Wine (/usr/lib/wine/wine) is not installed"
}
echo "== Windows i686 build and tests under 32-bit Wine"
if ! build build/win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake"; then
  echo "i686 build failed"; failed=$((failed + 1))
elif why=$(i686_blocker); then
  programs=$(cd build/win32 && ctest -N | sed -n 's/^Total Tests: //p')
  not_run=$((not_run + ${programs:-1}))
  echo "i686 tests not run (${programs:-?} test programs): $why"
else
  # The prefix is made by 64-bit Wine with 32-bit Wine installed beside it: 32-bit programs
  # run under WoW64 there, as on 64-bit Windows.
  windows_suite build/win32
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

# ---- The product's files include each other without a circle (a .cpp and its .h as one).
echo "== include circles"
if python3 scripts/check_includes.py; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

if [ -x scripts/fuzz.sh ]; then
  echo "== fuzzing (short runs)"
  if scripts/fuzz.sh 10 2>&1 | tee build/fuzz.log; then
    passed=$((passed + $(grep -c '^fuzz ok' build/fuzz.log)))
  else
    failed=$((failed + 1))
  fi
fi

summary="tests: $passed passed, $failed failed"
[ "$not_run" -eq 0 ] || summary+=", $not_run not run"
echo "$summary"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
