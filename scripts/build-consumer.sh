#!/usr/bin/env bash
# Installs the build tree's package into a folder of its own and builds the consumer project
# (tests/consumer) against it with the same toolchain, the way an application's build would.
#
# Usage: scripts/build-consumer.sh BUILD_DIR
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$(realpath -m "${1:?usage: build-consumer.sh BUILD_DIR}")
prefix="$build_dir/consumer-install"
consumer_build="$build_dir/consumer"

rm -rf "$prefix"
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
cmake -S "$repo_root/tests/consumer" -B "$consumer_build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
  --toolchain "$repo_root/cmake/toolchain-mingw-w64-x86_64.cmake" \
  -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$consumer_build/bin" \
  -DSystemStateWatchdog_DIR="$prefix/lib/cmake/SystemStateWatchdog" >/dev/null
cmake --build "$consumer_build"
