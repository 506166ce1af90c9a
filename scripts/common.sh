# Shared by the project's scripts: where things are, and how Wine is run for this build tree.
# shellcheck shell=bash
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# WATCHDOG_BUILD_DIR lets several checkouts or developers build side by side; each build tree
# has its own Wine prefix and so its own wineserver.
build_dir=$(realpath -m "${WATCHDOG_BUILD_DIR:-$repo_root/build/linux-cross}")
fuzz_build_dir="$build_dir-fuzz"
export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

log() { printf '== %s\n' "$*" >&2; }

# Starts a wineserver that outlives single test processes (each start then costs ~0.05 s
# instead of ~2.5 s), and Wine's helper processes with their output sent away from any pipe
# of ours: a helper that inherited a test runner's pipe would keep it open forever.
start_wineserver() {
  wineserver -k >/dev/null 2>&1 || true
  setsid wineserver -p </dev/null >/dev/null 2>&1 &
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_wineserver() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}
