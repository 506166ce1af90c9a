#!/usr/bin/env bash
# Installs the build tree's package into a folder of its own and builds the consumer project
# (tests/consumer) against it with the same toolchain, the way an application's build would:
# the prefix is named in CMAKE_PREFIX_PATH, as the integrator guide says.
#
# Usage: scripts/build-consumer.sh BUILD_DIR
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$(realpath -m "${1:?usage: build-consumer.sh BUILD_DIR}")
prefix="$build_dir/consumer-install"
consumer_build="$build_dir/consumer"

rm -rf "$prefix"
# A fresh configuration, so that the package is found as an application's first build finds it.
rm -f "$consumer_build/CMakeCache.txt"
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
cmake -S "$repo_root/tests/consumer" -B "$consumer_build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
  --toolchain "$repo_root/cmake/toolchain-mingw-w64-x86_64.cmake" \
  -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$consumer_build/bin" \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$consumer_build"
