#!/usr/bin/env bash
# Builds the release package: both programs for 32-bit and 64-bit Windows in release mode, and
# dist/MEmuSnapshotTool-<version>.zip holding win32/ and win64/ (MEmuSnapshotTool.exe and
# MEmuFarm.exe each), 使用说明.txt (GBK, CR LF), LICENSE.txt, SHA256SUMS and fleet/ (the
# Prometheus rules, the Grafana dashboard, the scheduled tasks, the exporter's installer and the
# Ansible playbook).
#
# The programs are reproducible (no time stamps, no build paths) and never embed the manager
# console builds, which are the emulator maker's program; users put those beside the program.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/deps.sh

for arch in i686:win32 x86_64:win64; do
  toolchain=${arch%%:*}
  folder=${arch##*:}
  echo "== $folder release build"
  cmake -S . -B "build/package/$folder" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTS=OFF -DBUNDLE_CONSOLE_BUILDS=OFF >/dev/null
  cmake --build "build/package/$folder" -j "$(nproc)" --target MEmuSnapshotTool MEmuFarm
done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/win64/CMakeCache.txt)
zip="dist/MEmuSnapshotTool-$version.zip"
mkdir -p dist
python3 scripts/package_zip.py "$version" build/package/win32/bin build/package/win64/bin "$zip"
echo "$zip"
sha256sum "$zip"
