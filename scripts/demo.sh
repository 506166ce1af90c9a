#!/usr/bin/env bash
# The main job end to end: set-up and build, then the demo under Wine.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$repo_root/scripts/setup.sh" >&2
trap stop_wineserver EXIT
start_wineserver
wine "$build_dir/bin/watchdog-demo.exe" </dev/null
