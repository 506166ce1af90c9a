#!/usr/bin/env bash
# The whole test suite: set-up, build, a compile of the whole tree with a second compiler, then
# every test under Wine through ctest.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$repo_root/scripts/setup.sh"

# Compile only: catches what GCC lets through before a Windows developer's clang-cl or MSVC does.
log "compiling the product, the tests and the tools with clang"
cmake -S "$repo_root" -B "$build_dir-clang" -G Ninja -Wno-dev \
  --toolchain "$repo_root/cmake/toolchain-clang-mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build_dir-clang"

# The main job needs no test framework: the demo, the benchmark and the executable configure
# and plan their build with the test suite switched off (a dry run; the sources are the same).
log "checking that the main job builds without the test suite"
cmake --preset linux-cross -B "$build_dir-no-tests" -DWATCHDOG_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir-no-tests" --target system_state_watchdog watchdog_demo watchdog_benchmark \
  -- -n >/dev/null

trap stop_wineserver EXIT
start_wineserver
cd "$repo_root"
ctest --test-dir "$build_dir" --output-on-failure --timeout 300 -j "$(nproc)" "$@"
# The same reader, executable and DLL against a current Boost, as Windows developers build them.
"$repo_root/scripts/test-newer-boost.sh"
