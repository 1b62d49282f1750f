#!/usr/bin/env python3
"""Checks the release package written by scripts/package.sh.

usage: check_package.py   (from the repository root, after package.sh and the test builds)

One line per check: "package ok: NAME" or "package FAILED: NAME: why". Checks the archive's
listing, its checksums and texts, the fleet set-up's files, the programs' import tables (only libraries Windows always
maps from its system folder), that the programs carry no time stamp or build path, that they
are byte for byte the programs of the test command's own build trees (built in other folders
at another time), and that writing the archive again gives the same bytes.
"""
import glob
import hashlib
import json
import os
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ARCHES = {"win32": "i686", "win64": "x86_64"}
PROGRAMS = ("MEmuSnapshotTool.exe", "MEmuFarm.exe")
GUIDE = "使用说明.txt"
FLEET = ["fleet/README.md", "fleet/windows/install-windows_exporter.cmd",
         "fleet/windows/memufarm-health-task.xml", "fleet/windows/memufarm-serve-task.xml",
         "fleet/prometheus/memu-rules.yml", "fleet/prometheus/scrape-example.yml",
         "fleet/grafana/memu-farm.json", "fleet/agent/mcp-servers.example.json",
         "fleet/ansible/farm.yml", "fleet/ansible/run.yml", "fleet/ansible/inventory.example.yml",
         "fleet/ansible/group_vars/memu_farm.yml"]
HEALTH_TASK = "fleet/windows/memufarm-health-task.xml"
HEALTH_COMMAND = ("health all --watch 15 --heal --prom "
                  "C:\\ProgramData\\windows_exporter\\textfile_inputs\\memu.prom")
SERVE_TASK = "fleet/windows/memufarm-serve-task.xml"
PLAYBOOK_VARS = "fleet/ansible/group_vars/memu_farm.yml"
# Libraries in Windows' KnownDLLs from Windows 7 on, plus ntdll, which every process maps
# from the system folder first.
KNOWN_DLLS = {"advapi32.dll", "comdlg32.dll", "gdi32.dll", "imm32.dll", "kernel32.dll",
              "msvcrt.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll", "psapi.dll",
              "shell32.dll", "shlwapi.dll", "user32.dll", "ws2_32.dll"}

failures = 0


def report(name, problems):
    global failures
    if problems:
        failures += 1
        print("package FAILED: %s: %s" % (name, "; ".join(problems)))
    else:
        print("package ok: " + name)


def version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(\S+ VERSION (\S+)", f.read()).group(1)


def imports(arch, data):
    with tempfile.NamedTemporaryFile(suffix=".exe") as exe:
        exe.write(data)
        exe.flush()
        dump = subprocess.run([arch + "-w64-mingw32-objdump", "-p", exe.name],
                              capture_output=True, text=True, check=True).stdout
    return [m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)]


def pe_time_stamp(data):
    offset = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<I", data, offset + 8)[0]


def service_port():
    """The port MEmuFarm serve listens on by default (farm/command/limits.h)."""
    with open(os.path.join(ROOT, "farm", "command", "limits.h"), encoding="utf-8") as f:
        return int(re.search(r'kServeListen = "[^"]*:(\d+)"', f.read()).group(1))


def task_problems(name, data, arguments_fit):
    """What is wrong with a scheduled task: it must start at the owner's log on, in the owner's
    session (an interactive token, for the same account as its trigger), run without a time
    limit, on battery too, be started again when it fails, and run MEmuFarm with arguments
    that `arguments_fit`."""
    try:
        task = ElementTree.fromstring(data.decode("utf-16"))
    except (ElementTree.ParseError, UnicodeDecodeError) as error:
        return ["%s is not XML: %s" % (name, error)]
    spaces = {"t": "http://schemas.microsoft.com/windows/2004/02/mit/task"}

    def text(path):
        return task.findtext(path, namespaces=spaces)

    problems = []
    triggers = task.find("t:Triggers", spaces)
    kinds = [child.tag.split("}")[-1] for child in (triggers if triggers is not None else [])]
    owner = text("t:Triggers/t:LogonTrigger/t:UserId")
    if kinds != ["LogonTrigger"] or not owner:
        problems.append("%s starts on %s, not at one user's log on" % (name, kinds))
    if text("t:Principals/t:Principal/t:LogonType") != "InteractiveToken":
        problems.append(name + " does not run in the owner's session")
    if text("t:Principals/t:Principal/t:UserId") != owner:
        problems.append(name + " runs as another account than the one whose log on starts it")
    if text("t:Settings/t:ExecutionTimeLimit") != "PT0S":
        problems.append(name + " has a time limit")
    for setting in ("DisallowStartIfOnBatteries", "StopIfGoingOnBatteries"):
        if text("t:Settings/t:" + setting) != "false":
            problems.append("%s has %s on" % (name, setting))
    if not text("t:Settings/t:RestartOnFailure/t:Interval") or \
            not text("t:Settings/t:RestartOnFailure/t:Count"):
        problems.append(name + " is not started again when it fails")
    if not (text("t:Actions/t:Exec/t:Command") or "").endswith("\\MEmuFarm.exe"):
        problems.append(name + " does not run MEmuFarm.exe")
    arguments = text("t:Actions/t:Exec/t:Arguments") or ""
    if not arguments_fit(arguments):
        problems.append("%s runs %r" % (name, arguments))
    return problems


def main():
    ver = version()
    path = os.path.join(ROOT, "dist", "MEmuSnapshotTool-%s.zip" % ver)
    if not os.path.isfile(path):
        report("archive", ["no " + path])
        return
    archive = zipfile.ZipFile(path, metadata_encoding="gbk")
    names = [i.filename for i in archive.infolist()]
    programs = ["%s/%s" % (folder, p) for folder in ARCHES for p in PROGRAMS]
    expected = [GUIDE, "LICENSE.txt", "SHA256SUMS"] + programs + FLEET
    report("listing", [] if names == expected else ["%s, expected %s" % (names, expected)])
    if names != expected:
        return
    files = {name: archive.read(name) for name in names}

    problems = []
    sums = files["SHA256SUMS"].decode("ascii").splitlines()
    listed = dict(reversed(line.split("  ", 1)) for line in sums)
    if sorted(listed) != sorted(programs):
        problems.append("lists %s" % sorted(listed))
    for name, digest in listed.items():
        if name in files and hashlib.sha256(files[name]).hexdigest() != digest:
            problems.append(name + " does not match its sum")
    report("checksums", problems)

    problems = []
    for name in (GUIDE, "LICENSE.txt"):
        text = files[name]
        if text.replace(b"\r\n", b"").count(b"\n") or text.replace(b"\r\n", b"").count(b"\r"):
            problems.append(name + " has line ends other than CR LF")
    guide = files[GUIDE].decode("gbk")
    if ver not in guide or "MEmuConsole-7.2.2.exe" not in guide:
        problems.append(GUIDE + " lacks the version or the side file names")
    if not files["LICENSE.txt"].startswith(b"MIT License"):
        problems.append("LICENSE.txt is not the MIT license")
    report("texts", problems)

    problems = []
    for name in FLEET:
        text = files[name]
        if name.endswith(".xml"):
            if not text.startswith(b"\xff\xfe"):
                problems.append(name + " is not UTF-16 with a byte order mark")
                continue
            text = text[2:].decode("utf-16-le").encode("utf-8")
        else:
            text.decode("utf-8")
        if text.replace(b"\r\n", b"").count(b"\n") or text.replace(b"\r\n", b"").count(b"\r"):
            problems.append(name + " has line ends other than CR LF")
        with open(os.path.join(ROOT, name), "rb") as f:
            if f.read().replace(b"\r\n", b"\n") != text.replace(b"\r\n", b"\n"):
                problems.append(name + " differs from the repository's")
    # The serve task and the playbook use the service's own port, on every interface.
    port = service_port()
    if not re.search(rb"^memufarm_port: %d$" % port, files[PLAYBOOK_VARS].replace(b"\r", b""),
                     re.M):
        problems.append("%s does not give memufarm_port %d" % (PLAYBOOK_VARS, port))
    problems += task_problems(HEALTH_TASK, files[HEALTH_TASK], lambda a: a == HEALTH_COMMAND)
    problems += task_problems(
        SERVE_TASK, files[SERVE_TASK],
        lambda a: a.startswith("serve --listen 0.0.0.0:%d " % port) and "--token-file " in a)
    try:
        json.loads(files["fleet/grafana/memu-farm.json"])
    except ValueError as error:
        problems.append("the dashboard is not JSON: %s" % error)
    try:
        servers = json.loads(files["fleet/agent/mcp-servers.example.json"])["mcpServers"]
        if any(server["args"][0] != "mcp" for server in servers.values()):
            problems.append("an agent's server example does not run MEmuFarm mcp")
    except (ValueError, KeyError, IndexError) as error:
        problems.append("the agent's server example is not one: %s" % error)
    report("fleet set-up", problems)

    problems = []
    for name in programs:
        outside = set(imports(ARCHES[name.split("/")[0]], files[name])) - KNOWN_DLLS
        if outside:
            problems.append("%s imports %s" % (name, ", ".join(sorted(outside))))
    report("imports are known DLLs only", problems)

    problems = []
    for name in programs:
        if pe_time_stamp(files[name]) != 0:
            problems.append(name + " has a link time stamp")
        for path_text in (ROOT, "/build/"):
            if path_text.encode() in files[name] or path_text.encode("utf-16-le") in files[name]:
                problems.append("%s holds %s" % (name, path_text))
    report("no time stamps or build paths", problems)

    problems = []
    for folder in ARCHES:
        tree = os.path.join(ROOT, "build", folder)
        with open(os.path.join(tree, "generated", "console_builds.rc"), encoding="utf-8") as f:
            if 'RCDATA "' in f.read():  # the package never embeds them: nothing to compare
                print("package skipped: build/%s embeds manager console builds" % folder)
                continue
        for program in PROGRAMS:
            with open(os.path.join(tree, "bin", program), "rb") as f:
                if f.read() != files[folder + "/" + program]:
                    problems.append("%s/%s differs from build/%s/bin" % (folder, program, folder))
    report("two builds give identical programs", problems)

    with tempfile.TemporaryDirectory() as temp:
        again = os.path.join(temp, "again.zip")
        subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "package_zip.py"), ver,
                        os.path.join(ROOT, "build", "package", "win32", "bin"),
                        os.path.join(ROOT, "build", "package", "win64", "bin"), again],
                       check=True)
        with open(again, "rb") as a, open(path, "rb") as b:
            same = a.read() == b.read()
    report("archive written again is identical", [] if same else ["the bytes differ"])


if __name__ == "__main__":
    main()
    sys.exit(1 if failures else 0)
