#!/usr/bin/env bash
# What a new user builds from the release archive unpacked (scripts/build-consumer.sh with the
# archive), from an empty folder; then the package each configuration found must lie under the
# unpacked archive, and a C project that links the static client library with C alone must stop
# at its configuration, saying to enable CXX or to link the DLL.
#
# Usage: build_against_archive.sh BUILD_DIR ARCHIVE
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build_dir=$(realpath "${1:?usage: build_against_archive.sh BUILD_DIR ARCHIVE}")
archive=$(realpath "${2:?usage: build_against_archive.sh BUILD_DIR ARCHIVE}")
consumer="$build_dir/consumer-archive"
unpacked="$build_dir/consumer-archive-unpacked/$(basename "$archive" .zip)"

bash "$repo_root/scripts/build-consumer.sh" "$build_dir" "$archive"
for project in "$consumer" "$consumer/c"; do
  found=$(sed -n 's/^SystemStateWatchdog_DIR:[A-Z]*=//p' "$project/CMakeCache.txt" 2>/dev/null || true)
  if [[ "$found" != "$unpacked/"* ]]; then
    echo "FAIL $project found the package at '$found', not under $unpacked"
    exit 1
  fi
  echo "ok   $project found the package under the unpacked archive: $found"
done

status=0
output=$(cmake -S "$repo_root/tests/consumer/c_project" -B "$consumer/c-alone" -G Ninja \
  --toolchain "$unpacked/docs/integration/toolchain-mingw-w64-x86_64.cmake" \
  -DCMAKE_FIND_ROOT_PATH="$unpacked" -DEXAMPLES="$unpacked/docs/integration" \
  -DC_PROJECT_LANGUAGES=C 2>&1) || status=$?
output=$(tr -s ' \n' ' ' <<<"$output")
if [ "$status" -eq 0 ] || [[ "$output" != *"but the project has not enabled CXX"* ]] ||
  [[ "$output" != *"link SystemStateWatchdog::client_dll instead"* ]]; then
  echo "FAIL a C project linking the static client library with C alone: status $status, $output"
  exit 1
fi
echo "ok   a C project linking the static client library with C alone stops, saying to enable CXX"
