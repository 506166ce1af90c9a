#!/usr/bin/env bash
# The consumer project built against the release archive unpacked (scripts/build-consumer.sh with
# the archive), from an empty folder, so that no program of an earlier build stands in for this
# one's; then the package its configuration found must lie under the unpacked archive.
#
# Usage: build_against_archive.sh BUILD_DIR ARCHIVE
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build_dir=$(realpath "${1:?usage: build_against_archive.sh BUILD_DIR ARCHIVE}")
archive=$(realpath "${2:?usage: build_against_archive.sh BUILD_DIR ARCHIVE}")
consumer="$build_dir/consumer-archive"
unpacked="$build_dir/consumer-archive-unpacked/$(basename "$archive" .zip)/"

rm -rf "$consumer"
bash "$repo_root/scripts/build-consumer.sh" "$build_dir" "$archive"
found=$(sed -n 's/^SystemStateWatchdog_DIR:PATH=//p' "$consumer/CMakeCache.txt" 2>/dev/null || true)
if [[ "$found" != "$unpacked"* ]]; then
  echo "FAIL the consumer build found the package at '$found', not under $unpacked"
  exit 1
fi
echo "ok   the consumer build found the package under the unpacked archive: $found"
