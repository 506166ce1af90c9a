#!/usr/bin/env bash
# Native reliability run of the recovery marker reader and writer: the stress cases, a bounded
# libFuzzer run of the reader on a copy of the seed corpus (two thirds of the time), and one of
# the writer's round trip (the rest). Fails on a wrong answer, a crash, a leak, a time-out, or
# any sanitizer report.
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

# Runs one fuzz target for a number of seconds on the given corpus folders; fails loudly.
run_fuzzer() {
  local target=$1 seconds=$2
  shift 2
  local status=0
  "$fuzz_dir/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -dict="$repo_root/fuzz/marker.dict" -artifact_prefix="$work/" -print_final_stats=1 \
    "$@" >"$work/$target.log" 2>&1 || status=$?
  if [ "$status" -ne 0 ] || grep -qE 'ERROR: |runtime error:|SUMMARY: |marker_.*fuzz: ' "$work/$target.log"; then
    tail -n 60 "$work/$target.log"
    for artifact in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
      [ -f "$artifact" ] && { echo "== $artifact"; head -c 2000 "$artifact" | od -c | head -40; }
    done
    exit 1
  fi
  echo "$target:"
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^Done' "$work/$target.log" || true
}

# The fuzzer adds what it finds to the first corpus folder only: a copy, so the checked-in
# seeds stay as they are. The documented examples are read as further seeds.
cp -r "$repo_root/fuzz/corpus" "$work/corpus"
mkdir -p "$work/round-trip-corpus"
run_fuzzer marker_fuzz $(( seconds * 2 / 3 )) "$work/corpus" "$repo_root/docs/examples"
run_fuzzer marker_round_trip_fuzz $(( seconds - seconds * 2 / 3 )) "$work/round-trip-corpus"
