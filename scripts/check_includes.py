#!/usr/bin/env python3
"""Finds include circles among the product's own files, a .cpp and its .h counted as one unit.

Prints "includes ok: N units" or each circle, one a line; exits 1 when there is one."""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FOLDERS = ("text", "process", "adb", "install", "control", "cloning", "farm", "cli", "win", "app",
           "mcp", "agent", "serve", "serve_win", "image")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def units():
    found = {}
    for folder in FOLDERS:
        for base, _, names in os.walk(os.path.join(ROOT, folder)):
            for name in names:
                if name.endswith((".h", ".cpp")):
                    path = os.path.relpath(os.path.join(base, name), ROOT)
                    found.setdefault(os.path.splitext(path)[0], []).append(path)
    return found


def edges(found):
    graph = {unit: set() for unit in found}
    for unit, paths in found.items():
        for path in paths:
            with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
                for included in INCLUDE.findall(f.read()):
                    other = os.path.splitext(included)[0]
                    if other in graph and other != unit:
                        graph[unit].add(other)
    return graph


def circles(graph):
    index, low, stack, on, out = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in sorted(graph[v]):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            group = []
            while True:
                w = stack.pop()
                on.discard(w)
                group.append(w)
                if w == v:
                    break
            if len(group) > 1:
                out.append(sorted(group))

    sys.setrecursionlimit(10000)
    for v in sorted(graph):
        if v not in index:
            visit(v)
    return out


def main():
    graph = edges(units())
    found = circles(graph)
    for group in found:
        print("include circle: " + " -> ".join(group))
    if found:
        return 1
    print(f"includes ok: {len(graph)} units, no circle")
    return 0


if __name__ == "__main__":
    sys.exit(main())
