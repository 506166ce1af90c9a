#!/usr/bin/env bash
# Prints the watchdog's figures: size and imports of the executable, then the timings and the
# waiting watcher's cost measured under Wine. Nothing is asserted.
#   --busy   keeps every core busy meanwhile, as a machine often is when a crashed
#            application's desktop is restored
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

busy_loops=()
stop_all() {
  [ ${#busy_loops[@]} -eq 0 ] || kill "${busy_loops[@]}" 2>/dev/null || true
  stop_wineserver
}

"$repo_root/scripts/setup.sh" >&2
exe="$build_dir/bin/system-state-watchdog.exe"
printf 'executable size            %s KiB (%s bytes)\n' "$(( $(stat -c %s "$exe") / 1024 ))" "$(stat -c %s "$exe")"
printf 'imported DLLs              %s\n' \
  "$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name/ {print $3}' | paste -sd ' ')"
trap stop_all EXIT
start_wineserver
if [ "${1:-}" = "--busy" ]; then
  for _ in $(seq "$(nproc)"); do
    (while :; do :; done) &
    busy_loops+=($!)
  done
  echo "with $(nproc) busy loops beside it"
fi
wine "$build_dir/bin/watchdog-benchmark.exe" </dev/null
