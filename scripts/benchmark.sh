#!/usr/bin/env bash
# Prints the watchdog's figures: size and imports of the executable and the client DLL, then the
# timings and the waiting watcher's cost measured under Wine. Nothing is asserted.
#   --busy   keeps every core busy meanwhile, as a machine often is when a crashed
#            application's desktop is restored
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

busy_loops=()
stop_all() {
  [ ${#busy_loops[@]} -eq 0 ] || kill "${busy_loops[@]}" 2>/dev/null || true
  stop_wineserver
}

"$repo_root/scripts/setup.sh" >&2
# Size and imports of what ships beside an application: the executable and the client DLL.
print_binary() {
  local label=$1 file=$2
  printf '%-26s %s KiB (%s bytes)\n' "$label size" "$(( $(stat -c %s "$file") / 1024 ))" "$(stat -c %s "$file")"
  printf '%-26s %s\n' "$label imports" \
    "$(x86_64-w64-mingw32-objdump -p "$file" | awk '/DLL Name/ {print $3}' | paste -sd ' ')"
}
print_binary executable "$build_dir/bin/system-state-watchdog.exe"
print_binary "client DLL" "$build_dir/bin/system-state-watchdog-client.dll"
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
