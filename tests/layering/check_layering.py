#!/usr/bin/env python3
"""The folders under src/ depend on each other in one direction only: no folder includes from a
folder that (directly or through others) includes from it. The marker folder also stays free of
Windows headers, so that its reader builds and is fuzzed natively.

Usage: check_layering.py SRC_DIR"""
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^">]+)[">]', re.MULTILINE)
WINDOWS_FREE = {"marker"}


def folder_includes(src):
    edges = {}
    windows_headers = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp") or path.parent == src:
            continue
        folder = path.relative_to(src).parts[0]
        edges.setdefault(folder, set())
        for included in INCLUDE.findall(path.read_text(encoding="utf-8")):
            target = included.split("/")[0] if "/" in included else None
            if target and (src / target).is_dir() and target != folder:
                edges[folder].add(target)
            if folder in WINDOWS_FREE and included.lower() in ("windows.h", "shellapi.h"):
                windows_headers.append(str(path.relative_to(src)))
    return edges, windows_headers


def cycle_through(edges, start):
    """A path start -> ... -> start, or None."""
    stack = [(start, [start])]
    seen = set()
    while stack:
        folder, path = stack.pop()
        for target in sorted(edges.get(folder, ())):
            if target == start:
                return path + [start]
            if target not in seen:
                seen.add(target)
                stack.append((target, path + [target]))
    return None


def main():
    src = pathlib.Path(sys.argv[1])
    edges, windows_headers = folder_includes(src)
    problems = []
    for folder in sorted(edges):
        cycle = cycle_through(edges, folder)
        if cycle:
            problems.append("folders lean on each other: " + " -> ".join(cycle))
    for path in windows_headers:
        problems.append("a Windows header in a folder that must build without one: " + path)
    for folder in sorted(edges):
        print(f"{folder}: {', '.join(sorted(edges[folder])) or '(nothing)'}")
    for problem in problems:
        print("FAIL " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
