#!/usr/bin/env bash
# Installs the build tree's package into a folder of its own and builds the consumer project
# (tests/consumer) against it with the same toolchain, the way an application's build would:
# the prefix is named in CMAKE_PREFIX_PATH, as the integrator guide says.
#
# Given a release archive, it builds from the archive unpacked alone, as a new user who
# downloaded it does: the archive's own consumer project with the archive's toolchain file, the
# package named by its folder; a C project that links the static client library, the archive
# being its find root; the C example with a plain compiler command line; and the archive's Rust
# and Go examples (scripts/build-bindings.sh), all into BUILD_DIR/consumer-archive.
#
# Usage: scripts/build-consumer.sh BUILD_DIR [ARCHIVE]
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$(realpath -m "${1:?usage: build-consumer.sh BUILD_DIR [ARCHIVE]}")

build_from_archive() {
  local archive unpacked prefix consumer_build examples toolchain
  archive=$(realpath "$1")
  unpacked="$build_dir/consumer-archive-unpacked"
  consumer_build="$build_dir/consumer-archive"
  rm -rf "$unpacked" "$consumer_build"
  mkdir -p "$unpacked"
  (cd "$unpacked" && cmake -E tar xf "$archive")
  # The archive holds one folder, named after the release.
  prefix=$(find "$unpacked" -mindepth 1 -maxdepth 1 -type d)
  examples="$prefix/docs/integration"
  toolchain="$examples/toolchain-mingw-w64-x86_64.cmake"
  cmake -S "$examples" -B "$consumer_build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
    --toolchain "$toolchain" -DSystemStateWatchdog_DIR="$prefix/lib/cmake/SystemStateWatchdog" \
    >/dev/null
  cmake --build "$consumer_build"
  cmake -S "$repo_root/tests/consumer/c_project" -B "$consumer_build/c" -G Ninja \
    -DCMAKE_BUILD_TYPE=MinSizeRel --toolchain "$toolchain" -DCMAKE_FIND_ROOT_PATH="$prefix" \
    -DEXAMPLES="$examples" >/dev/null
  cmake --build "$consumer_build/c"
  x86_64-w64-mingw32-gcc-posix -DSSW_CLIENT_DLL -I"$prefix/include" "$examples/example.c" \
    -L"$prefix/lib" -lsystem-state-watchdog-client -o "$consumer_build/example-c-plain.exe"
  bash "$repo_root/scripts/build-bindings.sh" "$build_dir" "$prefix" "$consumer_build"
}

if [ $# -ge 2 ]; then
  build_from_archive "$2"
  exit 0
fi

prefix="$build_dir/consumer-install"
consumer_build="$build_dir/consumer"
rm -rf "$prefix"
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
# A fresh configuration, so that the package is found as an application's first build finds it.
rm -f "$consumer_build/CMakeCache.txt"
cmake -S "$repo_root/tests/consumer" -B "$consumer_build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
  --toolchain "$repo_root/cmake/toolchain-mingw-w64-x86_64.cmake" \
  -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$consumer_build/bin" \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$consumer_build"
