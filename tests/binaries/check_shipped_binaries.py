#!/usr/bin/env python3
"""What ships beside an application (the watchdog executable and the client DLL) carries no debug
sections and imports DLLs that every Windows has, never a compiler's runtime DLL.

Usage: check_shipped_binaries.py OBJDUMP FILE..."""
import pathlib
import re
import subprocess
import sys

# Windows' own DLLs; the MinGW runtime (libstdc++-6, libgcc_s_seh-1, libwinpthread-1) and the
# Visual C++ redistributable (vcruntime140, msvcp140) are not among them.
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ntdll.dll",
    "ole32.dll", "oleaut32.dll", "psapi.dll", "shell32.dll", "shlwapi.dll", "ucrtbase.dll",
    "user32.dll", "version.dll",
}


def objdump(tool, option, path):
    return subprocess.run([tool, option, str(path)], check=True, capture_output=True,
                          text=True).stdout


def problems_of(tool, path):
    sections = re.findall(r"^\s*\d+\s+(\S+)\s", objdump(tool, "-h", path), re.MULTILINE)
    imports = re.findall(r"DLL Name:\s*(\S+)", objdump(tool, "-p", path))
    if not sections or not imports:
        yield "objdump shows no sections or no imports: not a PE image?"
    for section in sections:
        if section.startswith((".debug", ".zdebug")):
            yield f"debug section {section}"
    for dll in imports:
        if dll.lower() not in SYSTEM_DLLS and not dll.lower().startswith("api-ms-win-"):
            yield f"imports {dll}, which is no system DLL"


def main():
    tool, paths = sys.argv[1], [pathlib.Path(p) for p in sys.argv[2:]]
    failures = 0
    for path in paths:
        found = list(problems_of(tool, path))
        for problem in found:
            print(f"FAIL {path.name}: {problem}")
        if not found:
            print(f"ok   {path.name}: {path.stat().st_size // 1024} KiB")
        failures += len(found)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
