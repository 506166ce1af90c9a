#!/usr/bin/env python3
"""A version stated in vcpkg.json reaches everything that shows it: the library's version text
(what ssw_library_version and its C++ twin return), every field of FILEVERSION and PRODUCTVERSION
and the version texts in the executable's and the DLL's version resources, and the CMake
package's version. The versions tried have three different numbers, none zero, so that a field
left out or taken from elsewhere shows. A scratch copy of the tree is configured and only the
objects that carry the version are built; the second version is built over the first, as a
developer's tree would be, so that an object the new version does not rebuild shows too.

Usage: check_stated_version.py REPO_ROOT SCRATCH_DIR"""
import json
import pathlib
import re
import shutil
import struct
import subprocess
import sys

VERSIONS = ("3.5.7", "4.6.8")
MANIFESTS = ("vcpkg.json", "ports/system-state-watchdog/vcpkg.json")
# The product, and the stand-in shell that the top-level build defines in every configuration.
TREE = ("CMakeLists.txt", "cmake", "src", "resources", "tests/CMakeLists.txt", "tests/shell",
        *MANIFESTS)
SHIPPED_BINARIES = ("bin/system-state-watchdog.exe", "bin/system-state-watchdog-uninstall.exe",
                    "bin/system-state-watchdog-client.dll")
# The sources of the two functions that return the version text.
TEXT_SOURCES = re.compile(r"^(\S+/client/(version|c_api)\.cpp\.obj):", re.MULTILINE)
FIXED_FILE_INFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)
VERSION_TEXT = r"(?<![\d.])\d+\.\d+\.\d+(?![\d.])"


def run(*command, cwd=None):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"FAIL {' '.join(command)}:\n{done.stdout}{done.stderr}")
    return done.stdout


def copy_tree(repo_root, source):
    listed = run("git", "-C", str(repo_root), "ls-files", "-z", "--cached", "--others",
                 "--exclude-standard", "--", *TREE)
    for name in filter(None, set(listed.split("\0"))):
        if (repo_root / name).is_file():
            (source / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(repo_root / name, source / name)


def state_version(source, version):
    for name in MANIFESTS:
        manifest = json.loads((source / name).read_text(encoding="utf-8"))
        manifest["version"] = version
        (source / name).write_text(json.dumps(manifest, indent=2) + "\n", encoding="utf-8")


def objects_to_build(build):
    """The resource objects linked into each shipped binary, and the objects of the text."""
    resources = [line.strip() for binary in SHIPPED_BINARIES
                 for line in run("ninja", "-t", "query", binary, cwd=build).splitlines()
                 if line.strip().endswith(".res")]
    texts = [match[0] for match in TEXT_SOURCES.findall(run("ninja", "-t", "targets", "all",
                                                            cwd=build))]
    return resources, texts


def fixed_versions(resource):
    """FILEVERSION and PRODUCTVERSION, four fields each, from the resource's VS_FIXEDFILEINFO."""
    at = resource.find(FIXED_FILE_INFO_SIGNATURE)
    if at < 0:
        return None
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", resource, at + 8)
    return tuple((high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)
                 for high, low in ((file_ms, file_ls), (product_ms, product_ls)))


def resource_failures(data, version):
    fields = tuple(map(int, version.split("."))) + (0,)
    failures = []
    if fixed_versions(data) != (fields, fields):
        failures.append(f"FILEVERSION and PRODUCTVERSION {fixed_versions(data)}")
    shown = re.findall(VERSION_TEXT, data.decode("utf-16-le", errors="replace"))
    if set(shown) != {version}:
        failures.append(f"the version texts are {shown}")
    return failures


def narrow_version_texts(data):
    return re.findall(VERSION_TEXT + r"(?=\0)", data.decode("latin-1"))


def package_version(build):
    text = "".join(path.read_text(encoding="utf-8")
                   for path in build.rglob("SystemStateWatchdogConfigVersion.cmake"))
    found = re.search(r'set\(PACKAGE_VERSION "([^"]*)"\)', text)
    return found.group(1) if found else "no version"


def failures_for(build, version):
    resources, texts = objects_to_build(build)
    if len(resources) != len(SHIPPED_BINARIES) or not texts:
        return [f"the build graph shows resources {resources} and text objects {texts}"]
    run("cmake", "--build", str(build), "--target", *resources, *texts)
    failures = [f"{name}: {failure}" for name in resources
                for failure in resource_failures((build / name).read_bytes(), version)]
    shown = [text for name in texts for text in narrow_version_texts((build / name).read_bytes())]
    if set(shown) != {version}:
        failures.append(f"the library's version texts are {shown} in {texts}")
    if package_version(build) != version:
        failures.append(f"the package states {package_version(build)}")
    return [f"{version}: {failure}" for failure in failures]


def main():
    repo_root = pathlib.Path(sys.argv[1]).resolve()
    scratch = pathlib.Path(sys.argv[2]).resolve()
    source, build = scratch / "source", scratch / "build"
    shutil.rmtree(scratch, ignore_errors=True)
    copy_tree(repo_root, source)
    failures = []
    for number, version in enumerate(VERSIONS):
        state_version(source, version)
        if number == 0:
            run("cmake", "-S", str(source), "-B", str(build), "-G", "Ninja",
                "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DWATCHDOG_BUILD_TESTS=OFF",
                "-DWATCHDOG_BUILD_TOOLS=OFF",
                f"--toolchain={source}/cmake/toolchain-mingw-w64-x86_64.cmake")
        found = failures_for(build, version)
        print("\n".join(f"FAIL {failure}" for failure in found) or
              f"ok   {version}: both version resources, the library's text and the package")
        failures += found
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
