#!/usr/bin/env bash
# Installs the build tree's package into a folder of its own and builds the consumer project
# (tests/consumer) against it with the same toolchain, the way an application's build would:
# the prefix is named in CMAKE_PREFIX_PATH, as the integrator guide says. Given a release archive,
# it builds against the archive unpacked instead, as an application that downloaded it would.
#
# Usage: scripts/build-consumer.sh BUILD_DIR [ARCHIVE]
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$(realpath -m "${1:?usage: build-consumer.sh BUILD_DIR [ARCHIVE]}")
if [ $# -ge 2 ]; then
  archive=$(realpath "$2")
  unpacked="$build_dir/consumer-archive-unpacked"
  consumer_build="$build_dir/consumer-archive"
  rm -rf "$unpacked"
  mkdir -p "$unpacked"
  (cd "$unpacked" && cmake -E tar xf "$archive")
  # The archive holds one folder, named after the release.
  prefix=$(find "$unpacked" -mindepth 1 -maxdepth 1 -type d)
else
  prefix="$build_dir/consumer-install"
  consumer_build="$build_dir/consumer"
  rm -rf "$prefix"
  cmake --install "$build_dir" --prefix "$prefix" >/dev/null
fi

# A fresh configuration, so that the package is found as an application's first build finds it.
rm -f "$consumer_build/CMakeCache.txt"
cmake -S "$repo_root/tests/consumer" -B "$consumer_build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
  --toolchain "$repo_root/cmake/toolchain-mingw-w64-x86_64.cmake" \
  -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$consumer_build/bin" \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$consumer_build"
