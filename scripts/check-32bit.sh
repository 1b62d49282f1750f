#!/usr/bin/env bash
# Succeeds when this machine runs 32-bit x86 Linux programs (what 32-bit Wine needs): a tiny
# program assembled with `as --32` and linked with `ld -m elf_i386` must run and exit with
# the status it sets. Otherwise prints the reason on one line and fails.
set -uo pipefail
dir=$(mktemp -d /tmp/check-32bit.XXXXXX)
trap 'rm -rf "$dir"' EXIT
cat >"$dir/exit42.s" <<'ASM'
    .globl _start
_start:
    movl $1, %eax   # exit
    movl $42, %ebx  # status
    int $0x80
ASM
if ! as --32 -o "$dir/exit42.o" "$dir/exit42.s" 2>/dev/null ||
   ! ld -m elf_i386 -o "$dir/exit42" "$dir/exit42.o" 2>/dev/null; then
  echo "binutils cannot build a 32-bit x86 program here"
  exit 1
fi
"$dir/exit42" 2>/dev/null
status=$?
if [ "$status" -ne 42 ]; then
  echo "this machine does not run 32-bit x86 programs (a 32-bit test program ended with status $status, not 42)"
  exit 1
fi
