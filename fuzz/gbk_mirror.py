#!/usr/bin/env python3
"""Writes a code-page-936 copy of one UTF-8 source file for the clang fuzz build.

The program's string literals must be GBK bytes; gcc gets there with -fexec-charset=GBK, which
clang lacks, so the fuzz build compiles converted copies instead. The conversion is done by
iconv. A converted copy is refused when a two-byte character inside it has 0x5C ('\\') as its
trail byte, because clang would read that byte as the start of an escape sequence and compile a
different literal than gcc does.

Usage: gbk_mirror.py SOURCE DESTINATION
"""
import os
import subprocess
import sys


def first_backslash_trail(data: bytes):
    """Line number of the first two-byte character whose trail byte is a backslash, or None."""
    i = 0
    line = 1
    while i < len(data):
        b = data[i]
        if b == 0x0A:
            line += 1
        if b >= 0x80 and i + 1 < len(data):
            if data[i + 1] == 0x5C:
                return line
            i += 2
        else:
            i += 1
    return None


def main() -> int:
    source, destination = sys.argv[1], sys.argv[2]
    converted = subprocess.run(["iconv", "-f", "UTF-8", "-t", "GBK", source],
                               check=True, capture_output=True).stdout
    line = first_backslash_trail(converted)
    if line is not None:
        print(f"{source}:{line}: a GBK character here ends in 0x5C, which clang would read "
              "as an escape; the fuzz build cannot compile this file as gcc does",
              file=sys.stderr)
        return 1
    os.makedirs(os.path.dirname(destination), exist_ok=True)
    temporary = destination + ".part"
    with open(temporary, "wb") as out:
        out.write(converted)
    os.replace(temporary, destination)
    return 0


if __name__ == "__main__":
    sys.exit(main())
