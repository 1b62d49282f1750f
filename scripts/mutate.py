#!/usr/bin/env python3
"""Mutation test of the native suite over the portable code of farm/'s wings, cli/ and control/.

For each portable source file (*.cpp, not *_win.cpp) the script makes small realistic faults,
one at a time, rebuilds only the native test binary and runs it. A mutant is
  caught          the tests failed, crashed or hung (ran past --test-timeout);
  lived           every test passed: no test notices the fault;
  did not compile the build refused the fault (not counted in the score).
The kinds of fault:
  cmp       a comparison flipped (< <= > >= == !=: to its boundary twin and to its negation)
  logic     && and || swapped
  not       a ! dropped
  bool      true and false swapped
  num       an integer literal plus or minus one
  negret    `return X;` of a function returning bool turned into `return !(X);`
  early     an early return, continue or break removed (not a function's last statement)
  delete    an expression statement deleted (calls, assignments; never declarations)
Comments, string and character literals, preprocessor lines and clang-format lines are left
alone.

The file is put back after every mutant, also on Ctrl+C or SIGTERM. The build goes to a folder
of its own (build/mutate, configured on first use without optimisation so rebuilds are quick,
and with the standard library's index checks), one job at a time under `nice -n 19`. A run of
the tests may use 2 GiB of address space and --test-timeout seconds.

Usage:
  scripts/mutate.py                          every mutant of every file (hours: sample instead)
  scripts/mutate.py --limit 40 --seed 1      40 mutants per folder, drawn with seed 1
  scripts/mutate.py --files farm/vm_result.cpp cli/farm_output.cpp --limit 20
  scripts/mutate.py --limit 40 --seed 2 --folders farm/run    that draw, one folder's share
  scripts/mutate.py --at farm/health.cpp:159 --kinds num     one line's mutants again
  scripts/mutate.py --list                   only list the mutants, build nothing
  scripts/mutate.py --log out.json           also write every result as JSON
Prints a score per folder (caught / (caught + lived)) and the survivors as file:line and the
mutation. Exit status: 0 when the run finished (whatever the score), 2 on a bad baseline.
"""

import argparse
import json
import os
import random
import re
import resource
import signal
import subprocess
import sys
import time
from dataclasses import dataclass, field

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FOLDERS = ("farm/command", "farm/run", "farm/health", "farm/report", "cli", "control")
MEMORY_LIMIT = 2 << 30  # bytes of address space for one run of the tests
# The standard library checks its indexes, so a mutant that reads past the end of a vector or
# a string stops at once instead of reading whatever lies there.
CHECKED_LIBRARY = "-D_GLIBCXX_ASSERTIONS"


@dataclass
class Mutant:
    path: str  # relative to ROOT
    line: int  # 1-based first line changed
    kind: str
    what: str  # the mutation in words
    lo: int  # lines[lo:hi] are replaced by `new`
    hi: int
    new: list = field(default_factory=list)
    outcome: str = ""

    def folder(self):
        return os.path.dirname(self.path)


# --- Reading the source: which characters are code --------------------------------------


def code_masks(text):
    """For each line, a string of the same length where code characters are kept and
    characters inside comments and string/char literals are replaced by a blank."""
    out = []
    i, n = 0, len(text)
    state = "code"
    raw_end = ""
    line = []
    while i < n:
        c = text[i]
        if c == "\n":
            out.append("".join(line))
            line = []
            if state == "line_comment":
                state = "code"
            i += 1
            continue
        if state == "code":
            if text.startswith("//", i):
                state = "line_comment"
                line.append(" ")
            elif text.startswith("/*", i):
                state = "block_comment"
                line.append("  ")
                i += 2
                continue
            elif c == "R" and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum()
                                                                            or text[i - 1] == "_")):
                j = text.index("(", i)
                raw_end = ")" + text[i + 2:j] + '"'
                state = "raw"
                line.append(" " * (j + 1 - i))
                i = j + 1
                continue
            elif c == '"':
                state = "string"
                line.append(" ")
            elif c == "'" and not (i > 0 and text[i - 1].isalnum()):  # not a digit separator
                state = "char"
                line.append(" ")
            else:
                line.append(c)
            i += 1
            continue
        if state == "line_comment":
            line.append(" ")
        elif state == "block_comment":
            if text.startswith("*/", i):
                state = "code"
                line.append("  ")
                i += 2
                continue
            line.append(" ")
        elif state == "raw":
            if text.startswith(raw_end, i):
                state = "code"
                line.append(" " * len(raw_end))
                i += len(raw_end)
                continue
            line.append(" ")
        elif state in ("string", "char"):
            quote = '"' if state == "string" else "'"
            if c == "\\" and i + 1 < n and text[i + 1] != "\n":
                line.append("  ")
                i += 2
                continue
            if c == quote:
                state = "code"
            line.append(" ")
        i += 1
    out.append("".join(line))
    return out


# --- Making the mutants ------------------------------------------------------------------

CMP_SWAPS = {
    "<": ("<=", ">="),
    "<=": ("<", ">"),
    ">": (">=", "<="),
    ">=": (">", "<"),
    "==": ("!=",),
    "!=": ("==",),
}
KEYWORDS = {
    "return", "if", "for", "while", "switch", "case", "throw", "delete", "using", "typedef",
    "auto", "const", "static", "constexpr", "namespace", "template", "struct", "class", "enum",
    "else", "do", "default", "break", "continue", "goto", "new", "public", "private",
    "protected", "friend", "virtual", "explicit", "inline", "extern", "co_return", "operator",
}
STATEMENT_START = re.compile(
    r"^\s*(?:\+\+|--)?([A-Za-z_]\w*)(?:(?:::|\.|->)[A-Za-z_]\w*|\[[^\]]*\])*\s*"
    r"(?:=(?!=)|\+=|-=|\*=|/=|%=|\|=|&=|\^=|<<=|>>=|\(|\+\+|--|<<)")
BOOL_FUNCTION = re.compile(r"^(?:(?:static|inline|constexpr|\[\[nodiscard\]\])\s+)*bool\s+[\w:~]+\(")


def replace_at(line, start, end, new):
    return line[:start] + new + line[end:]


def previous_code_line(masks, k):
    k -= 1
    while k >= 0 and not masks[k].strip():
        k -= 1
    return masks[k].rstrip() if k >= 0 else ""


def next_code_index(masks, k):
    k += 1
    while k < len(masks) and not masks[k].strip():
        k += 1
    return k


def statement_end(masks, k, limit=8):
    """Index just past the last line of the statement starting at line k, or None when it does
    not end with `;` at bracket depth 0 within `limit` lines."""
    depth = 0
    for j in range(k, min(k + limit, len(masks))):
        for c in masks[j]:
            if c in "([{":
                depth += 1
            elif c in ")]}":
                depth -= 1
            if depth < 0:
                return None
        if depth == 0 and masks[j].rstrip().endswith(";"):
            return j + 1
    return None


def mutants_of(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        text = f.read()
    lines = text.split("\n")
    masks = code_masks(text)
    found = []
    function_is_bool = False

    def add(k, kind, what, new_line, column=None):
        if column is not None:
            what += f" (column {column + 1})"
        found.append(Mutant(path, k + 1, kind, what, k, k + 1, [new_line]))

    for k, (line, mask) in enumerate(zip(lines, masks)):
        stripped = mask.strip()
        if not stripped or stripped.startswith("#") or "clang-format" in line:
            continue
        if mask[:1].strip() and not mask.startswith("}") and not mask.startswith("namespace"):
            function_is_bool = bool(BOOL_FUNCTION.match(mask))

        for m in re.finditer(r"(?<= )(<=|>=|==|!=|<|>)(?= )", mask):
            for new in CMP_SWAPS[m.group(1)]:
                add(k, "cmp", f"{m.group(1)} -> {new}", replace_at(line, m.start(), m.end(), new),
                    m.start())
        for m in re.finditer(r"(?<= )(&&|\|\|)(?= )", mask):
            new = "||" if m.group(1) == "&&" else "&&"
            add(k, "logic", f"{m.group(1)} -> {new}", replace_at(line, m.start(), m.end(), new),
                m.start())
        for m in re.finditer(r"!(?!=)", mask):
            add(k, "not", "! dropped", replace_at(line, m.start(), m.end(), ""), m.start())
        for m in re.finditer(r"\b(true|false)\b", mask):
            new = "false" if m.group(1) == "true" else "true"
            add(k, "bool", f"{m.group(1)} -> {new}", replace_at(line, m.start(), m.end(), new),
                m.start())
        for m in re.finditer(r"(?<![\w.'])(\d+)([uUlLzZ]*)(?![\w.'])", mask):
            value = int(m.group(1))
            for new in ((value + 1,) if value == 0 else (value - 1, value + 1)):
                add(k, "num", f"{value} -> {new}",
                    replace_at(line, m.start(1), m.end(1), str(new)), m.start())

        ret = re.search(r"\breturn\s+(.+);\s*$", mask)
        if (function_is_bool and ret and ret.group(1).strip() not in ("true", "false")
                and "return" not in mask[ret.end():]):
            expr = line[ret.start(1):ret.end(1)]
            add(k, "negret", "return value negated",
                replace_at(line, ret.start(1), ret.end(1), f"!({expr})"))

        # Early exits: a return, continue or break that is not the function's last statement.
        exit_m = re.search(r"\b(return\b[^;]*|continue|break);", mask)
        if exit_m is None and re.match(r"^\s*return\b", mask):
            exit_m = re.match(r"^\s*(return\b.*)$", mask)  # a return spread over lines
        if exit_m:
            word = exit_m.group(1).split()[0].rstrip(";")
            end = k + 1 if mask.rstrip().endswith(";") else statement_end(masks, k)
            after = next_code_index(masks, (end or k + 1) - 1)
            closes_function = after < len(masks) and masks[after].startswith("}")
            alone = re.match(r"^\s*(return|continue|break)\b", mask) is not None
            # Under a case label the removal falls through, which the compiler refuses.
            under_label = alone and previous_code_line(masks, k).endswith(":")
            spread_after_if = word == "return" and not alone and end and end > k + 1
            if end and not closes_function and not under_label and not spread_after_if:
                if alone:
                    new = [" " * (len(line) - len(line.lstrip())) + "{}"] + [""] * (end - k - 1)
                    found.append(Mutant(path, k + 1, "early", f"{word} removed", k, end, new))
                elif end == k + 1:
                    add(k, "early", f"{word} removed",
                        replace_at(line, exit_m.start(), len(line.rstrip()), "{}"))

        # An expression statement deleted (blank lines keep the numbering).
        start = STATEMENT_START.match(mask)
        if start and start.group(1) not in KEYWORDS:
            prev = previous_code_line(masks, k)
            if prev == "" or prev[-1] in ";{}:" or prev.endswith(")") or prev.endswith("else"):
                end = statement_end(masks, k)
                if end and not (end > k + 1 and "{" in "".join(masks[k:end])):
                    indent = " " * (len(line) - len(line.lstrip()))
                    keep = "{}" if prev.endswith(")") or prev.endswith("else") else ""
                    new = [indent + keep if keep else ""] + [""] * (end - k - 1)
                    found.append(Mutant(path, k + 1, "delete", "statement deleted: " +
                                        line.strip()[:60], k, end, new))
    return lines, found


def portable_sources():
    files = []
    for folder in FOLDERS:
        for name in sorted(os.listdir(os.path.join(ROOT, folder))):
            if name.endswith(".cpp") and not name.endswith("_win.cpp"):
                files.append(f"{folder}/{name}")
    return files


# --- Running -----------------------------------------------------------------------------


class Runner:
    def __init__(self, build_dir, build_timeout, test_timeout):
        self.build_dir = build_dir
        self.build_timeout = build_timeout
        self.test_timeout = test_timeout
        self.binary = os.path.join(build_dir, "bin", "native_tests")

    def configure(self):
        if os.path.exists(os.path.join(self.build_dir, "build.ninja")):
            return True
        return subprocess.run(
            ["nice", "-n", "19", "cmake", "-S", ROOT, "-B", self.build_dir, "-G", "Ninja",
             "-DCMAKE_BUILD_TYPE=None", "-DCMAKE_CXX_FLAGS=" + CHECKED_LIBRARY],
            stdout=subprocess.DEVNULL).returncode == 0

    def build(self):
        try:
            return subprocess.run(
                ["nice", "-n", "19", "cmake", "--build", self.build_dir, "--target",
                 "native_tests", "-j", "1"], stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, timeout=self.build_timeout).returncode == 0
        except subprocess.TimeoutExpired:
            return False

    def tests_pass(self):
        """True when every test passed; False when one failed, crashed or hung. A mutant that
        grows a string without end meets a memory limit instead of the machine's."""
        def limit_memory():
            resource.setrlimit(resource.RLIMIT_AS, (MEMORY_LIMIT, MEMORY_LIMIT))
        try:
            return subprocess.run(
                ["nice", "-n", "19", self.binary, "--gtest_fail_fast", "--gtest_brief=1"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=self.build_dir,
                timeout=self.test_timeout, preexec_fn=limit_memory).returncode == 0
        except subprocess.TimeoutExpired:
            return False


def raise_interrupt(signum, frame):
    raise KeyboardInterrupt


def run(mutants, sources, runner):
    # Also when started in the background, where SIGINT comes in ignored.
    signal.signal(signal.SIGINT, raise_interrupt)
    signal.signal(signal.SIGTERM, raise_interrupt)
    for number, mutant in enumerate(mutants, 1):
        original = sources[mutant.path]
        path = os.path.join(ROOT, mutant.path)
        mutated = original[:mutant.lo] + mutant.new + original[mutant.hi:]
        started = time.monotonic()
        try:
            with open(path, "w", encoding="utf-8") as f:
                f.write("\n".join(mutated))
            if not runner.build():
                mutant.outcome = "did not compile"
            else:
                mutant.outcome = "lived" if runner.tests_pass() else "caught"
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write("\n".join(original))
        print(f"[{number}/{len(mutants)}] {mutant.outcome:15} {mutant.path}:{mutant.line} "
              f"{mutant.kind}: {mutant.what} ({time.monotonic() - started:.0f} s)", flush=True)


def report(mutants):
    print("\nScore per folder (caught / (caught + lived); not compiled left out):")
    for folder in FOLDERS:
        mine = [m for m in mutants if m.folder() == folder and m.outcome]
        caught = sum(m.outcome == "caught" for m in mine)
        lived = sum(m.outcome == "lived" for m in mine)
        broken = sum(m.outcome == "did not compile" for m in mine)
        if caught + lived:
            print(f"  {folder:13} {caught}/{caught + lived} = {100 * caught / (caught + lived):.0f}%"
                  f"  ({broken} did not compile)")
    survivors = [m for m in mutants if m.outcome == "lived"]
    print(f"\nSurvivors ({len(survivors)}):")
    for m in survivors:
        print(f"  {m.path}:{m.line} {m.kind}: {m.what}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--files", nargs="+", help="source files to mutate (default: all)")
    parser.add_argument("--limit", type=int,
                        help="mutants drawn per folder (with --files, per folder of those files)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the draw")
    parser.add_argument("--kinds", nargs="+", help="only these kinds of fault")
    parser.add_argument("--at", nargs="+", metavar="FILE:LINE",
                        help="only the mutants of these lines (to check a survivor again)")
    parser.add_argument("--folders", nargs="+", metavar="FOLDER",
                        help="after the draw, keep only these folders' mutants (the draw is "
                             "the same as without it)")
    parser.add_argument("--list", action="store_true", help="list the mutants and stop")
    parser.add_argument("--log", help="write every result to this JSON file")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "mutate"))
    parser.add_argument("--build-timeout", type=int, default=900)
    parser.add_argument("--test-timeout", type=int, default=60)
    args = parser.parse_args()

    files = args.files or ([] if args.at else portable_sources())
    sources, mutants = {}, []
    for path in files or sorted({a.split(":")[0] for a in args.at or []}):
        path = os.path.relpath(os.path.abspath(path), ROOT) if os.path.isabs(path) else path
        sources[path], found = mutants_of(path)
        mutants += [m for m in found if (not args.kinds or m.kind in args.kinds) and
                    (not args.at or f"{m.path}:{m.line}" in args.at)]
    if args.limit is not None:
        draw = random.Random(args.seed)
        chosen = []
        # Per folder: the default folders, or those of the files named.
        for folder in sorted({m.folder() for m in mutants}) if args.files else FOLDERS:
            mine = [m for m in mutants if m.folder() == folder]
            chosen += draw.sample(mine, min(args.limit, len(mine)))
        mutants = chosen
    if args.folders:
        unknown = sorted(set(args.folders) - {m.folder() for m in mutants})
        if unknown:
            print(f"no mutant is in {', '.join(unknown)}", file=sys.stderr)
            return 2
        mutants = [m for m in mutants if m.folder() in args.folders]
    mutants.sort(key=lambda m: (m.path, m.line, m.kind, m.what))

    if args.list:
        for m in mutants:
            print(f"{m.path}:{m.line} {m.kind}: {m.what}")
        print(f"{len(mutants)} mutants")
        return 0

    runner = Runner(args.build_dir, args.build_timeout, args.test_timeout)
    if not runner.configure() or not runner.build() or not runner.tests_pass():
        print("the unmutated tree does not build or its native tests fail", file=sys.stderr)
        return 2
    try:
        run(mutants, sources, runner)
    except KeyboardInterrupt:
        print("\ninterrupted; every file is back as it was", file=sys.stderr)
    report(mutants)
    if args.log:
        with open(args.log, "w", encoding="utf-8") as f:
            json.dump([{"file": m.path, "line": m.line, "kind": m.kind, "mutation": m.what,
                        "outcome": m.outcome} for m in mutants], f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
