#!/usr/bin/env python3
"""THIRD-PARTY-NOTICES.md names every third-party library and object that the linker took code
from for each shipped binary (the map its link writes), and every part of Boost whose headers the
compiler read for the shipped code (ninja's record of each object's headers).

Usage: check_notices.py NOTICES BUILD_DIR SHIPPED_BINARY..."""
import os
import pathlib
import re
import subprocess
import sys

# "archive(member)" at the start of a line: the linker took that member.
ARCHIVE_MEMBER = re.compile(r"^(\S+\.a)\([^)]+\)$", re.MULTILINE)
LOADED_OBJECT = re.compile(r"^LOAD (\S+\.o)$", re.MULTILINE)
# The objects of the shipped binaries are the ones built under src/.
SHIPPED_OBJECT = re.compile(r"^src/CMakeFiles/\S+: #deps")
LINK_MAP_OPTION = re.compile(r"-Map[=,](\S+)")


def link_map(build_dir, binary):
    """The map that the binary's own link command writes (a map left by an earlier link does not
    count)."""
    target = os.path.relpath(binary, build_dir)
    command = subprocess.run(["ninja", "-C", str(build_dir), "-t", "commands", "-s", target],
                             check=True, capture_output=True, text=True).stdout
    written = LINK_MAP_OPTION.search(command)
    return build_dir / written.group(1) if written else None


def linked_libraries(link_map_path):
    """Third-party libraries and objects in a link map: those from outside the build tree."""
    text = link_map_path.read_text(encoding="utf-8", errors="replace")
    inputs = ARCHIVE_MEMBER.findall(text) + LOADED_OBJECT.findall(text)
    names = {pathlib.PurePath(path).name for path in inputs if path.startswith("/")}
    return {name.removesuffix(".a") for name in names}


def boost_parts(build_dir):
    """The first component under boost/ of every header that a shipped object includes."""
    deps = subprocess.run(["ninja", "-C", str(build_dir), "-t", "deps"], check=True,
                          capture_output=True, text=True).stdout
    parts, shipped = set(), False
    for line in deps.splitlines():
        if not line.startswith(" "):
            shipped = bool(SHIPPED_OBJECT.match(line))
        elif shipped and "/boost/" in line:
            part = line.strip().rsplit("/boost/", 1)[1].split("/")[0]
            parts.add(re.sub(r"\.hpp?$", "", part))
    return parts


def named(notices, name):
    return re.search(r"(?<![\w+.-])" + re.escape(name) + r"(?![\w+-])", notices) is not None


def main():
    if len(sys.argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    notices = pathlib.Path(sys.argv[1]).read_text(encoding="utf-8")
    build_dir = pathlib.Path(sys.argv[2]).resolve()
    checks, failures = {}, []
    for binary in map(pathlib.Path, sys.argv[3:]):
        map_path = link_map(build_dir, binary)
        if map_path is None:
            failures.append(f"{binary.name}: its link writes no map")
        elif not map_path.is_file():
            failures.append(f"{binary.name}: its map {map_path} is missing")
        else:
            checks[f"linked into {binary.name}"] = linked_libraries(map_path)
    checks["Boost headers compiled in"] = boost_parts(build_dir)
    for what, names in checks.items():
        missing = [name for name in sorted(names) if not named(notices, name)]
        failures += [f"{what}: {name} is not named in the notices" for name in missing]
        if not names:
            failures.append(f"nothing {what}: the build tree holds no record to check against")
        elif not missing:
            print(f"ok   {what}: {', '.join(sorted(names))}")
    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
