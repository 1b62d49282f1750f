#!/usr/bin/env bash
# Copies the farm page's screenshots that the browser test wrote (build/page-shots/) into docs/,
# where the README shows them. Run tests/page/run.sh first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
for name in page-1920x1080.png page-390x844.png; do
  [ -f "$root/build/page-shots/$name" ] || { echo "missing build/page-shots/$name: run tests/page/run.sh" >&2; exit 1; }
  cp -f "$root/build/page-shots/$name" "$root/docs/$name"
done
echo "docs/ has the page's screenshots of $(date -u -r "$root/build/page-shots/page-1920x1080.png" +%F)"
