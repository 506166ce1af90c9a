#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, then configures and builds everything.
# Safe to run again: it installs nothing that is already there.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

packages=(
  cmake ninja-build
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  wine wine64
  libboost-json1.81-dev googletest
  # the fuzzing tree: libFuzzer, and a clang new enough for libstdc++'s <expected>
  clang-19 libclang-rt-19-dev
  python3 python3-jsonschema clang-format
  # the bindings' examples and declarations: Rust (Windows x64 std), Go, C#
  rustc cargo libstd-rust-dev-windows golang-go mono-mcs
  # the release: Authenticode signing and the test suite's throw-away certificate
  osslsigncode openssl
)

install_missing_packages() {
  local missing=()
  for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# A Wine prefix inside the build tree, with the null graphics driver so that real windows
# work without an X server.
prepare_wine_prefix() {
  [ -f "$WINEPREFIX/.watchdog-ready" ] && return 0
  log "preparing the Wine prefix in $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot -i </dev/null >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.watchdog-ready"
}

build() {
  log "configuring and building the Windows x64 tree"
  cmake --preset linux-cross -B "$build_dir" >/dev/null
  cmake --build "$build_dir"
  if [ -f "$repo_root/fuzz/CMakeLists.txt" ]; then
    log "building the native fuzzing tree"
    cmake -S "$repo_root/fuzz" -B "$fuzz_build_dir" -G Ninja \
      -DCMAKE_C_COMPILER=clang-19 -DCMAKE_CXX_COMPILER=clang++-19 >/dev/null
    cmake --build "$fuzz_build_dir"
  fi
}

install_missing_packages
build
prepare_wine_prefix
