#!/usr/bin/env bash
# Prints the watchdog's figures: size and imports of the executable, then the timings and the
# waiting watcher's cost measured under Wine. Nothing is asserted.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$repo_root/scripts/setup.sh" >&2
exe="$build_dir/bin/system-state-watchdog.exe"
printf 'executable size            %s KiB (%s bytes)\n' "$(( $(stat -c %s "$exe") / 1024 ))" "$(stat -c %s "$exe")"
printf 'imported DLLs              %s\n' \
  "$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name/ {print $3}' | paste -sd ' ')"
trap stop_wineserver EXIT
start_wineserver
wine "$build_dir/bin/watchdog-benchmark.exe" </dev/null
