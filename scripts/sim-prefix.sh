#!/usr/bin/env bash
# Installs the simulated emulator into a Wine prefix, as a real installation would lie:
#   C:\Program Files\Microvirt\MEmu\        MEmu.exe memuc.exe adb.exe MEmuConsole.exe
#   C:\Program Files\Microvirt\MEmuHyperv\  MEmuManage.exe MEmuHeadless.exe
# plus the uninstall entry's InstallLocation in HKLM, a desktop shortcut "逍遥安卓模拟器.lnk"
# to MEmu.exe, and a state of VM_COUNT VMs (0 "MEmu", n "MEmu_n"), the first N of them started.
#
# Usage: scripts/sim-prefix.sh PREFIX [VM_COUNT] [--running N] [--bin DIR]
# The tools are taken from --bin DIR, else $SIM_BIN, else build/win64/bin/sim. Nothing is built
# here. Running it again resets the installation (running VMs are stopped first).
set -euo pipefail
root_dir=$(cd "$(dirname "$0")/.." && pwd)

prefix=""
vm_count=3
running=0
bin="${SIM_BIN:-$root_dir/build/win64/bin/sim}"
while [ $# -gt 0 ]; do
  case "$1" in
    --running) running=$2; shift 2 ;;
    --bin) bin=$2; shift 2 ;;
    -h|--help) sed -n 2,10p "$0"; exit 0 ;;
    *)
      if [ -z "$prefix" ]; then prefix=$1; else vm_count=$1; fi
      shift ;;
  esac
done
if [ -z "$prefix" ]; then echo "usage: $0 PREFIX [VM_COUNT] [--running N] [--bin DIR]" >&2; exit 2; fi
for exe in MEmu memuc adb MEmuConsole MEmuManage MEmuHeadless make_shortcut; do
  [ -f "$bin/$exe.exe" ] || { echo "missing $bin/$exe.exe (build the sim_tools target)" >&2; exit 1; }
done
mkdir -p "$prefix"
export WINEPREFIX
WINEPREFIX=$(cd "$prefix" && pwd)
wine=("$root_dir/scripts/wine-run")

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "${wine[@]}" wineboot --init >/dev/null 2>&1
fi

base="$WINEPREFIX/drive_c/Program Files/Microvirt"
install_win='C:\Program Files\Microvirt\MEmu'

# Stop VMs of an earlier installation before their files are replaced.
if [ -f "$base/MEmu/memuc.exe" ]; then
  "${wine[@]}" "$install_win\\memuc.exe" memuc stopall >/dev/null 2>&1 || true
fi

mkdir -p "$base/MEmu" "$base/MEmuHyperv"
for exe in MEmu memuc adb MEmuConsole; do cp -f "$bin/$exe.exe" "$base/MEmu/"; done
for exe in MEmuManage MEmuHeadless; do cp -f "$bin/$exe.exe" "$base/MEmuHyperv/"; done

# State: index, title, started, pid, uuid, snapshots, config (tab-separated, CR LF).
{
  printf '# index\ttitle\tstarted\tpid\tuuid\tsnapshots\tconfig\r\n'
  for ((i = 0; i < vm_count; i++)); do
    if [ "$i" -eq 0 ]; then title=MEmu; else title="MEmu_$i"; fi
    printf '%d\t%s\t0\t0\t\t\t\r\n' "$i" "$title"
  done
} >"$base/sim-state.txt"
: >"$base/sim-switches.txt"

# The 64-bit program reads this literal key path, so write it in the 64-bit view.
"${wine[@]}" reg add 'HKLM\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\MEmu' \
  /v InstallLocation /t REG_SZ /d 'C:\Program Files\Microvirt' /f /reg:64 >/dev/null 2>&1

"${wine[@]}" "$bin/make_shortcut.exe" --desktop '逍遥安卓模拟器.lnk' "$install_win\\MEmu.exe" >/dev/null 2>&1

for ((i = 0; i < running && i < vm_count; i++)); do
  "${wine[@]}" "$install_win\\memuc.exe" memuc start -i "$i" >/dev/null 2>&1
done
: >"$base/sim-journal.txt"
echo "simulated emulator installed in $WINEPREFIX at C:\\Program Files\\Microvirt ($vm_count VMs, $running running)"
