#!/usr/bin/env python3
"""The integrator guide shows its C++ and C examples whole; the test suite builds and runs the
files docs/integration/example.cpp and example.c. The guide's code must be those files, to the
byte, so that what a reader copies is what was tested.

Usage: check_integration_examples.py DOCS_DIR"""
import pathlib
import re
import sys


def block_after(text, heading, language):
    """The first fenced block of `language` after the heading line."""
    start = text.index("\n" + heading + "\n")
    match = re.compile(r"```" + language + r"\n(.*?)```", re.DOTALL).search(text, start)
    return match.group(1) if match else None


def main():
    docs = pathlib.Path(sys.argv[1])
    guide = (docs / "integration.md").read_text(encoding="utf-8")
    failures = 0
    for heading, language, file_name in (("### C++", "cpp", "example.cpp"), ("### C", "c", "example.c")):
        expected = (docs / "integration" / file_name).read_text(encoding="utf-8")
        shown = block_after(guide, heading, language)
        if shown != expected:
            print(f"FAIL the guide's {language} example differs from docs/integration/{file_name}")
            failures += 1
        else:
            print(f"ok   {file_name}: {expected.count(chr(10))} lines")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
