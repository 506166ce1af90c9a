#!/usr/bin/env python3
"""The release archive as its user opens it: every member dated with the last commit's time (UTC),
and every part a release must carry inside its one top folder.

Usage: check_archive.py ARCHIVE REPO_ROOT"""
import pathlib
import subprocess
import sys
import time
import zipfile

# What the build puts in, by its installed name.
BUILT_PARTS = (
    "bin/system-state-watchdog.exe",
    "bin/system-state-watchdog-uninstall.exe",
    "bin/system-state-watchdog-client.dll",
    "lib/libsystem-state-watchdog-client-static.a",
    "lib/libsystem-state-watchdog-client.dll.a",
    "lib/cmake/SystemStateWatchdog/SystemStateWatchdogConfig.cmake",
    "lib/cmake/SystemStateWatchdog/SystemStateWatchdogConfigVersion.cmake",
    "include/system_state_watchdog/client.h",
    "include/system_state_watchdog/client.hpp",
    "testing/stand-in-shell.exe",
)
# What comes from the tree as it is: every file git tracks there, byte for byte.
SOURCE_PARTS = ("README.md", "CHANGELOG.md", "LICENSE", "THIRD-PARTY-NOTICES.md", "bindings",
                "docs")


def git(repo_root, *arguments):
    return subprocess.run(["git", "-C", str(repo_root), *arguments], check=True,
                          capture_output=True, text=True).stdout


def commit_time(repo_root):
    seconds = int(git(repo_root, "log", "-1", "--format=%ct"))
    # A zip archive states seconds in steps of two.
    stamp = time.gmtime(seconds - seconds % 2)
    return (stamp.tm_year, stamp.tm_mon, stamp.tm_mday, stamp.tm_hour, stamp.tm_min, stamp.tm_sec)


def main():
    archive, repo_root = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    top = archive.name.removesuffix(".zip") + "/"
    failures = []
    with zipfile.ZipFile(archive) as zip_file:
        members = {member.filename: member for member in zip_file.infolist()}
        expected_time = commit_time(repo_root)
        dated_otherwise = {member.date_time for member in members.values()} - {expected_time}
        failures += [f"members dated {date}, not with the last commit's time {expected_time}"
                     for date in sorted(dated_otherwise)]
        failures += [f"{name} lies outside {top}" for name in members if not name.startswith(top)]
        failures += [f"{part} is missing" for part in BUILT_PARTS if top + part not in members]
        tracked = git(repo_root, "ls-files", "-z", "--", *SOURCE_PARTS).split("\0")
        for name in (name for name in tracked if (repo_root / name).is_file()):
            if top + name not in members:
                failures.append(f"{name} is missing")
            elif zip_file.read(top + name) != (repo_root / name).read_bytes():
                failures.append(f"{name} differs from the tree's")
    for failure in failures:
        print(f"FAIL {archive.name}: {failure}")
    if not failures:
        print(f"ok   {archive.name}: {len(members)} members, all dated {expected_time}, every part "
              "there")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
