#!/usr/bin/env python3
"""The integrator guide shows its CMake project, its C++, C, Rust and Go examples and its NSIS
script whole; the test suite builds and runs the files docs/integration/example.cpp and example.c
(through docs/integration/CMakeLists.txt), the bindings' examples (each an application's own
crate or module) and what docs/integration/uninstall.nsi makes. The guide's code must be those
files, to the byte, so that what a reader copies is what was tested.

Usage: check_integration_examples.py DOCS_DIR"""
import pathlib
import re
import sys


# The guide's heading, the block's language, and the file (from DOCS_DIR) that the block shows.
EXAMPLES = (
    ("## The client library", "cmake", "integration/CMakeLists.txt"),
    ("### C++", "cpp", "integration/example.cpp"),
    ("### C", "c", "integration/example.c"),
    ("### Rust", "rust", "../bindings/rust/examples/protect/src/main.rs"),
    ("### Rust", "toml", "../bindings/rust/examples/protect/Cargo.toml"),
    ("### Rust", "toml", "../bindings/rust/examples/protect/.cargo/config.toml"),
    ("### Go", "go", "../bindings/go/examples/protect/main.go"),
    ("### Go", "gomod", "../bindings/go/examples/protect/go.mod"),
    ("## Uninstalling", "nsis", "integration/uninstall.nsi"),
)


def block_after(text, heading, language, earlier=0):
    """The fenced block of `language` after the heading line, after `earlier` others of it."""
    start = text.index("\n" + heading + "\n")
    blocks = re.compile(r"```" + language + r"\n(.*?)```", re.DOTALL).findall(text, start)
    return blocks[earlier] if earlier < len(blocks) else None


def main():
    docs = pathlib.Path(sys.argv[1])
    guide = (docs / "integration.md").read_text(encoding="utf-8")
    failures = 0
    for number, (heading, language, file_name) in enumerate(EXAMPLES):
        expected = (docs / file_name).read_text(encoding="utf-8")
        earlier = sum(1 for row in EXAMPLES[:number] if row[:2] == (heading, language))
        shown = block_after(guide, heading, language, earlier)
        if shown != expected:
            print(f"FAIL the guide's {language} example differs from docs/{file_name}")
            failures += 1
        else:
            print(f"ok   {file_name}: {expected.count(chr(10))} lines")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
