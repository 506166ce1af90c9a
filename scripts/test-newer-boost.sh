#!/usr/bin/env bash
# The test command's second leg: the executable and the client DLL built against a current Boost
# (what a Windows developer's package manager brings) instead of Debian's 1.81, with the marker
# reader's tests, the end-to-end marker rows and the check of the shipped binaries. The Boost is
# the folder WATCHDOG_NEWER_BOOST_DIR names, or else ../shared/third_party/boost-1.90 beside the
# checkout; either holds include/boost. A second build tree with only what this leg needs, in
# the main tree's Wine prefix, whose wineserver the caller runs.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

boost_dir=$(realpath -m "${WATCHDOG_NEWER_BOOST_DIR:-$repo_root/../shared/third_party/boost-1.90}")
version_header="$boost_dir/include/boost/version.hpp"
if [ ! -f "$boost_dir/include/boost/json/basic_parser.hpp" ] || [ ! -f "$version_header" ]; then
  log "NOT RUN: the tests against a newer Boost: no Boost.JSON headers in $boost_dir/include" \
      "(set WATCHDOG_NEWER_BOOST_DIR to a folder that holds include/boost)"
  exit 0
fi
boost_version=$(sed -n 's/^#define BOOST_LIB_VERSION "\(.*\)"/\1/p' "$version_header" | tr _ .)
newer_dir="$build_dir-newer-boost"

log "building the executable, the client DLL and the marker tests against Boost $boost_version"
cmake --preset linux-cross -B "$newer_dir" -DWATCHDOG_BUILD_TOOLS=OFF \
  -DWATCHDOG_HOST_BOOST_DIR="$boost_dir/include/boost" -DWATCHDOG_WINEPREFIX="$WINEPREFIX" >/dev/null
cmake --build "$newer_dir" --target system_state_watchdog system_state_watchdog_uninstall \
  watchdog_client_dll watchdog_marker_tests watchdog_e2e_tests
for binary in system-state-watchdog.exe system-state-watchdog-client.dll; do
  printf '%-34s %s KiB with Boost %s\n' "$binary" "$(( $(stat -c %s "$newer_dir/bin/$binary") / 1024 ))" \
    "$boost_version"
done

log "testing against Boost $boost_version"
ctest --test-dir "$newer_dir" --output-on-failure --timeout 300 -j "$(nproc)" --no-tests=error \
  -R '^(RecoveryMarker.*|DesktopRestore\.EveryEndingOfTheMainApplicationGetsTheDesktopBack|DesktopRestoreFaults\.BadOrMissingMarkersAreLeftAsTheyAre|shipped_binaries)$'
