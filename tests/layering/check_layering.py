#!/usr/bin/env python3
"""The folders under src/ depend on each other in the declared order only: each folder includes
from folders declared before it, never from one declared after it or from one not declared at
all. The marker folder also stays free of Windows headers, so that its reader builds and is
fuzzed natively.

Usage: check_layering.py SRC_DIR LAYERS_FILE"""
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


def declared_order(layers_file):
    lines = layers_file.read_text(encoding="utf-8").splitlines()
    return [line.strip() for line in lines if line.strip() and not line.startswith("#")]


def layering_problems(edges, order):
    rank = {folder: position for position, folder in enumerate(order)}
    problems = []
    for folder in sorted(edges):
        if folder not in rank:
            problems.append(f"{folder} is not in the declared order of folders")
            continue
        for target in sorted(edges[folder]):
            if rank.get(target, len(order)) > rank[folder]:
                problems.append(f"{folder} includes from {target}, which is not below it")
    return problems


def main():
    src = pathlib.Path(sys.argv[1])
    order = declared_order(pathlib.Path(sys.argv[2]))
    edges, windows_headers = folder_includes(src)
    problems = layering_problems(edges, order)
    for path in windows_headers:
        problems.append("a Windows header in a folder that must build without one: " + path)
    for folder in order:
        print(f"{folder}: {', '.join(sorted(edges.get(folder, ()))) or '(nothing)'}")
    for problem in problems:
        print("FAIL " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
