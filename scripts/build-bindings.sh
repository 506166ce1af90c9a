#!/usr/bin/env bash
# Builds the Rust and Go bindings' examples for Windows x64, each an application's own crate or
# module, against the package that scripts/build-consumer.sh installed, into the consumer
# project's bin folder, where the watchdog and the client DLL already lie beside the C and C++
# examples. Given a release archive unpacked and a folder, it builds the archive's own bindings
# and examples against the archive instead, into that folder. Offline: no crate and no module
# comes from a registry.
#
# Usage: scripts/build-bindings.sh BUILD_DIR [UNPACKED_ARCHIVE OUTPUT_DIR]
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$(realpath -m "${1:?usage: build-bindings.sh BUILD_DIR [UNPACKED_ARCHIVE OUTPUT_DIR]}")
if [ $# -ge 3 ]; then
  prefix=$(realpath "$2")
  bindings="$prefix/bindings"
  bin=$(realpath -m "$3")
  rust_target="$build_dir/rust-archive"
else
  prefix="$build_dir/consumer-install"
  bindings="$repo_root/bindings"
  bin="$build_dir/consumer/bin"
  rust_target="$build_dir/rust"
fi

# Debian's cargo and rustc by their full paths: a rustup toolchain that comes first on PATH
# lacks the Windows target. A cargo home of its own keeps a user's cargo settings out.
(
  # The example's own .cargo/config.toml names the MinGW-w64 linker.
  cd "$bindings/rust/examples/protect"
  # Warnings fail the build, as in the C++ tree.
  export RUSTC=/usr/bin/rustc RUSTFLAGS="-D warnings" CARGO_HOME="$build_dir/cargo-home" \
    SSW_CLIENT_LIB_DIR="$prefix/lib"
  /usr/bin/cargo build --offline --quiet --release --target x86_64-pc-windows-gnu \
    --target-dir "$rust_target"
)
cp "$rust_target/x86_64-pc-windows-gnu/release/protect.exe" "$bin/example-rust.exe"

# Go loads the DLL itself (syscall.NewLazyDLL): no cgo, no C toolchain.
(
  cd "$bindings/go"
  export GOOS=windows GOARCH=amd64 CGO_ENABLED=0 GOPROXY=off GOFLAGS= GOENV=off \
    GOCACHE="$build_dir/go-cache" GOPATH="$build_dir/go-path"
  /usr/bin/go vet ./...
  # The example is an application's module of its own, which requires this one.
  cd examples/protect
  /usr/bin/go vet ./...
  /usr/bin/go build -o "$bin/example-go.exe" .
)
