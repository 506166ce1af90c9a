#!/usr/bin/env bash
# A C runtime mismatch between an application and the client archive, or a C project that links
# the C++ archive without enabling CXX, fails the application's configuration, naming what to
# change; matching runtimes and the DLL configure. Configures
# tests/runtime_check with Debian's clang in its MSVC-compatible mode, linking nothing (so no
# Windows SDK is needed), and the C projects with MinGW-w64's gcc, one row at a time in one build
# tree per language.
#
# Usage: check.sh SOURCE_DIR WORK_DIR
set -euo pipefail

source_dir=$(realpath "${1:?usage: check.sh SOURCE_DIR WORK_DIR}")
work=$(realpath -m "${2:?usage: check.sh SOURCE_DIR WORK_DIR}")
mkdir -p "$work"
# clang takes the MSVC-compatible command line when it is called as clang-cl.
ln -sf "$(command -v clang-19)" "$work/clang-cl"
touch "$work/no-op"
chmod +x "$work/no-op"

static='MultiThreaded$<$<CONFIG:Debug>:Debug>'
dynamic='MultiThreaded$<$<CONFIG:Debug>:Debug>DLL'
# archive's runtime | application's CMAKE_MSVC_RUNTIME_LIBRARY ("" for CMake's default, /MD) |
# target linked | expected: "configures", or a text the error must contain | the project's
# languages when it is a C project of MinGW-w64 (CXX of the MSVC ABI otherwise)
rows=(
  "static||client|app links SystemStateWatchdog::client, which was built with the static C runtime (/MT), but app uses MSVC_RUNTIME_LIBRARY \"$dynamic\". Build it with \"$static\""
  "static|$static|client|configures"
  "static||client_dll|configures"
  "dynamic|$static|client|which was built with the C runtime DLL (/MD), but app uses MSVC_RUNTIME_LIBRARY \"$static\". Build it with \"$dynamic\""
  "dynamic||client|configures"
  "||client|configures"
  "||client|app links SystemStateWatchdog::client, a static C++ library, but the project has not enabled CXX|C"
  "||client_dll|configures|C"
)

failures=0
for row in "${rows[@]}"; do
  IFS='|' read -r crt runtime linked expected languages <<<"$row"
  runtime_option=(-UCMAKE_MSVC_RUNTIME_LIBRARY)
  [ -z "$runtime" ] || runtime_option=("-DCMAKE_MSVC_RUNTIME_LIBRARY=$runtime")
  compiler=(-DLANGUAGES=CXX -DCMAKE_CXX_COMPILER="$work/clang-cl"
    -DCMAKE_CXX_COMPILER_TARGET=x86_64-pc-windows-msvc)
  [ "$languages" != C ] || compiler=(-DLANGUAGES=C -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc-posix)
  status=0
  output=$(cmake -S "$source_dir/tests/runtime_check" -B "$work/build-${languages:-CXX}" -G Ninja \
    -DCMAKE_SYSTEM_NAME=Windows "${compiler[@]}" \
    -DCMAKE_USER_MAKE_RULES_OVERRIDE="$source_dir/cmake/compile-only-rules.cmake" \
    -DCMAKE_AR="$work/no-op" -DCMAKE_LINKER="$work/no-op" -DCMAKE_MT="$work/no-op" \
    -DWATCHDOG_SOURCE_DIR="$source_dir" -DCLIENT_CRT="$crt" -DLINKED="$linked" \
    "${runtime_option[@]}" 2>&1) || status=$?
  output=$(tr -s ' \n' ' ' <<<"$output")
  case "$expected" in
    configures) ok=$([ "$status" -eq 0 ] && echo yes || echo no) ;;
    *) ok=$([ "$status" -ne 0 ] && [[ "$output" == *"$expected"* ]] && echo yes || echo no) ;;
  esac
  label="archive ${crt:-of unknown runtime}, application ${runtime:-default} in ${languages:-CXX}, links $linked"
  if [ "$ok" = yes ]; then
    echo "ok   $label: ${expected:0:60}"
  else
    echo "FAIL $label: expected $expected, got status $status:"
    echo "$output"
    failures=$((failures + 1))
  fi
done
exit $(( failures > 0 ))
