#!/usr/bin/env bash
# Native reliability run of the recovery marker reader: the stress cases, then a bounded
# libFuzzer run on a copy of the seed corpus. Fails on a wrong answer, a crash, a leak, a
# time-out, or any sanitizer report.
#
# Usage: scripts/fuzz-marker.sh FUZZ_BUILD_DIR [SECONDS]
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
fuzz_dir=${1:?usage: fuzz-marker.sh FUZZ_BUILD_DIR [SECONDS]}
seconds=${2:-60}

if [ ! -f "$fuzz_dir/build.ninja" ] && [ ! -f "$fuzz_dir/Makefile" ]; then
  echo "no fuzzing build in $fuzz_dir: scripts/setup.sh builds it" >&2
  exit 1
fi
# Brings the tree up to date with the sources; does nothing when it already is.
cmake --build "$fuzz_dir" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$fuzz_dir/marker_stress"

# The fuzzer adds what it finds to the first corpus folder only: a copy, so the checked-in
# seeds stay as they are. The documented examples are read as further seeds.
cp -r "$repo_root/fuzz/corpus" "$work/corpus"
status=0
"$fuzz_dir/marker_fuzz" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
  -dict="$repo_root/fuzz/marker.dict" -artifact_prefix="$work/" -print_final_stats=1 \
  "$work/corpus" "$repo_root/docs/examples" >"$work/fuzz.log" 2>&1 || status=$?

if [ "$status" -ne 0 ] || grep -qE 'ERROR: |runtime error:|SUMMARY: ' "$work/fuzz.log"; then
  tail -n 60 "$work/fuzz.log"
  for artifact in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
    [ -f "$artifact" ] && { echo "== $artifact"; head -c 2000 "$artifact" | od -c | head -40; }
  done
  exit 1
fi
grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^Done' "$work/fuzz.log" || true
