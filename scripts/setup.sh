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
  # the uninstall program's test: a real NSIS uninstaller (makensis)
  nsis
)

# npm, for the workflow validator: Debian's, unless a Node.js that brings its own is installed.
command -v npm >/dev/null || packages+=(nodejs npm)

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

# The GitHub Actions workflow validator, from the npm registry into the build tree.
install_workflow_validator() {
  local folder="$build_dir/tools/npm"
  [ -x "$folder/node_modules/.bin/action-validator" ] && return 0
  log "installing the workflow validator into $folder"
  mkdir -p "$folder"
  npm install --prefix "$folder" --no-save --no-audit --no-fund --silent \
    @action-validator/cli@0.6.0 @action-validator/core@0.6.0
}

install_missing_packages
install_workflow_validator
build
prepare_wine_prefix
