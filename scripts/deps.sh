#!/usr/bin/env bash
# Installs, when missing, what building and testing need on a fresh Debian machine; and,
# when the machine runs 32-bit x86 programs, 32-bit Wine for the i686 build's tests.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
have() { command -v "$1" >/dev/null 2>&1; }
have cmake || need+=(cmake)
have ninja || need+=(ninja-build)
have g++ || need+=(g++)
have x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
have i686-w64-mingw32-g++-posix || need+=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
have Xvfb || need+=(xvfb)
have xvfb-run || need+=(xvfb xauth)
have xauth || need+=(xauth)
have xdotool || need+=(xdotool)
[ -x /usr/bin/import ] || need+=(imagemagick)
[ -f /usr/share/fonts/truetype/wqy/wqy-microhei.ttc ] || need+=(fonts-wqy-microhei)
[ -d /usr/src/googletest/googletest ] || need+=(googletest)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
have clang++ || need+=(clang)
[ -d /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux ] || need+=(libclang-rt-14-dev)
have python3 || need+=(python3)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
# The MCP client test: Node.js and npm (the SDK's client comes from the lock file, npm ci).
have node || need+=(nodejs)
have npm || need+=(npm)
# Prometheus, node_exporter (its text-file collector reads the files windows_exporter's does)
# and Alertmanager: the fleet set-up's checks run the real ones. The tests never use the
# services the packages may start (under systemd): they start their own on free loopback ports.
have promtool || need+=(prometheus)
have prometheus || need+=(prometheus)
have prometheus-node-exporter || need+=(prometheus-node-exporter)
have prometheus-alertmanager || need+=(prometheus-alertmanager)
# Header-only libraries the Windows builds take from Debian: stb (screenshots scaled and
# encoded for agents and the farm page) and Boost's Beast and Asio (the HTTP service).
[ -f /usr/include/stb/stb_image.h ] || need+=(libstb-dev)
[ -f /usr/include/boost/beast.hpp ] || need+=(libboost1.81-dev)
# The farm page's test drives Debian's Chromium (through playwright-core from the lock file).
have chromium || need+=(chromium)
# The fleet's playbook is run by the real Ansible in the tests.
have ansible-playbook || need+=(ansible-core)

if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${need[@]}"
fi

# 32-bit Wine beside wine64 (Debian's wine32:i386, from the i386 architecture), only where
# 32-bit programs run; elsewhere the test command reports the i686 tests as not run.
if [ ! -x /usr/lib/wine/wine ] && "$(dirname "$0")/check-32bit.sh" >/dev/null; then
  echo "Installing: wine32:i386"
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  # A mirror being synced refuses an index now and then: one more try, and then the i686
  # tests are reported as not run (with why) rather than the whole test command failing.
  apt-get update -q || { sleep 20; apt-get update -q; } || true
  if ! apt-get install -y -q --no-install-recommends wine32:i386; then
    echo "warning: 32-bit Wine could not be installed; the i686 tests will not run" >&2
  fi
fi
