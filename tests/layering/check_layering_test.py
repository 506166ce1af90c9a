#!/usr/bin/env python3
"""The layering check itself, on made-up trees: it passes a tree that keeps the declared order
and fails one that includes upward or has a folder the order does not name.

Usage: check_layering_test.py CHECK_LAYERING_PY"""
import pathlib
import subprocess
import sys
import tempfile

ORDER = "# lowest first\nwin\nsession\nclient\n"

CASES = (
    ("the declared order kept", {"session/a.cpp": '#include "win/b.h"'}, []),
    ("an upward include", {"win/b.cpp": '#include "client/c.h"'},
     ["FAIL win includes from client, which is not below it"]),
    ("a folder not declared", {"extra/d.cpp": '#include "win/b.h"'},
     ["FAIL extra is not in the declared order of folders"]),
)


def run(check, files):
    with tempfile.TemporaryDirectory() as root:
        src = pathlib.Path(root, "src")
        for folder in ("win", "session", "client"):
            (src / folder).mkdir(parents=True)
            (src / folder / "b.h").write_text("")
        for name, text in files.items():
            (src / name).parent.mkdir(parents=True, exist_ok=True)
            (src / name).write_text(text + "\n")
        layers = pathlib.Path(root, "layers.txt")
        layers.write_text(ORDER)
        done = subprocess.run([sys.executable, check, str(src), str(layers)],
                              capture_output=True, text=True)
        return done.returncode, [line for line in done.stdout.splitlines() if line.startswith("FAIL")]


def main():
    failures = 0
    for name, files, expected in CASES:
        code, lines = run(sys.argv[1], files)
        if lines != expected or code != (1 if expected else 0):
            print(f"FAIL {name}: exit {code}, {lines}, expected {expected}")
            failures += 1
        else:
            print(f"ok   {name}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
