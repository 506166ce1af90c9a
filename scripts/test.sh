#!/usr/bin/env bash
# The whole test suite: set-up, build, then every test under Wine through ctest.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$repo_root/scripts/setup.sh"
trap stop_wineserver EXIT
start_wineserver
cd "$repo_root"
ctest --test-dir "$build_dir" --output-on-failure --timeout 300 -j "$(nproc)" "$@"
