#!/usr/bin/env python3
"""Writes the release zip from the built programs, byte for byte the same on every run.

usage: package_zip.py VERSION WIN32_BIN WIN64_BIN OUTPUT.zip

The programs, the guide, the license, the programs' checksums, and the fleet set-up (fleet/).

Entries come in a fixed order with one fixed date (SOURCE_DATE_EPOCH, else the last commit's
time). The Chinese file name is stored in code page 936, as archives made on Chinese Windows
are, so Explorer there shows it right on every version; the Info-ZIP Unicode path field adds
its UTF-8 form for 7-Zip and unzip elsewhere.
"""
import hashlib
import os
import re
import struct
import subprocess
import sys
import time
import zipfile
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAMS = ("MEmuSnapshotTool.exe", "MEmuFarm.exe")
GUIDE = "使用说明.txt"
# The fleet set-up (fleet/ of the repository), shipped under fleet/ with Windows line ends;
# the scheduled tasks in UTF-16 with a byte order mark, as Task Scheduler writes its own.
FLEET = ("README.md", "windows/install-windows_exporter.cmd", "windows/memufarm-health-task.xml",
         "windows/memufarm-serve-task.xml", "prometheus/memu-rules.yml",
         "prometheus/scrape-example.yml", "grafana/memu-farm.json",
         "agent/mcp-servers.example.json", "ansible/farm.yml", "ansible/run.yml",
         "ansible/inventory.example.yml", "ansible/group_vars/memu_farm.yml")


class Cp936NameInfo(zipfile.ZipInfo):
    """An entry whose non-ASCII name is stored in code page 936, without the UTF-8 flag."""

    def _encodeFilenameFlags(self):
        try:
            return self.filename.encode("ascii"), self.flag_bits
        except UnicodeEncodeError:
            return self.filename.encode("cp936"), self.flag_bits


def archive_time():
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch:
        try:
            epoch = subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%ct"],
                                   capture_output=True, text=True, check=True).stdout.strip()
        except (OSError, subprocess.CalledProcessError):
            epoch = ""
    seconds = max(int(epoch), 315532800) if epoch else 315532800  # not before 1980
    return time.gmtime(seconds)[:6]


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


def guide_text(version):
    """docs/使用说明.md as plain text: headings without their marks, the version filled in."""
    with open(os.path.join(ROOT, "docs", "使用说明.md"), encoding="utf-8") as f:
        lines = f.read().splitlines()
    out = []
    for i, line in enumerate(lines):
        out.append(re.sub(r"^#+ ", "", line))
        if i == 0:
            out += ["", "版本 " + version]
    return crlf("\n".join(out) + "\n").encode("gbk")


def fleet_file(name):
    """fleet/NAME as the package holds it."""
    with open(os.path.join(ROOT, "fleet", name), encoding="utf-8") as f:
        text = crlf(f.read())
    if name.endswith(".xml"):
        return b"\xff\xfe" + text.encode("utf-16-le")
    return text.encode("utf-8")


def entry(name, when):
    info = Cp936NameInfo(name, date_time=when)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 0  # MS-DOS: attributes below are Windows ones
    info.external_attr = 0x20  # archive
    raw = info._encodeFilenameFlags()[0]
    if raw != name.encode("utf-8"):
        utf8 = name.encode("utf-8")
        field = struct.pack("<BI", 1, zlib.crc32(raw)) + utf8
        info.extra = struct.pack("<HH", 0x7075, len(field)) + field
    return info


def main():
    version, win32_bin, win64_bin, output = sys.argv[1:5]
    files = []  # (name in the archive, bytes)
    for folder, bin_dir in (("win32", win32_bin), ("win64", win64_bin)):
        for program in PROGRAMS:
            with open(os.path.join(bin_dir, program), "rb") as f:
                files.append((folder + "/" + program, f.read()))
    sums = "".join(hashlib.sha256(data).hexdigest() + "  " + name + "\n" for name, data in files)
    with open(os.path.join(ROOT, "LICENSE"), encoding="utf-8") as f:
        license_text = crlf(f.read()).encode("ascii")
    files = [(GUIDE, guide_text(version)), ("LICENSE.txt", license_text),
             ("SHA256SUMS", sums.encode("ascii"))] + files
    files += [("fleet/" + name, fleet_file(name)) for name in FLEET]

    when = archive_time()
    temp = output + ".writing"
    with zipfile.ZipFile(temp, "w") as archive:
        for name, data in files:
            archive.writestr(entry(name, when), data, compresslevel=9)
    os.replace(temp, output)


if __name__ == "__main__":
    main()
