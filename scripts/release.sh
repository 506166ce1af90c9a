#!/usr/bin/env bash
# Builds a release anyone may use: dist/system-state-watchdog-<version>-windows-x64.zip (the
# executable and the uninstall program, the client DLL with its import library, the static client
# library, the headers, the CMake package, the docs with a consumer project, the bindings, the
# stand-in shell for testing, the licence and the third-party notices) and
# dist/SHA256SUMS.
#
# The release comes from the last commit of a clean tree, built twice, in two folders, minutes
# apart; unless both builds give the same bytes, file for file and archive for archive, it stops
# and names each file that differs and from which byte. So anyone can rebuild the commit and
# check the archive. Given a code-signing certificate it signs the executable and the DLL
# (Authenticode, with osslsigncode) before packing, verifies both signatures, and checks that
# signing added the signature and changed nothing else.
#
# Usage: scripts/release.sh                  a release, into dist/
#        scripts/release.sh --check BUILD_DIR
#            the test suite's check: the working tree's files (tracked or not, but not ignored)
#            built once more beside BUILD_DIR's own build of them, and released into
#            BUILD_DIR/release-check/dist
#
# Signing, through the environment (without WATCHDOG_SIGNING_PKCS12 nothing is signed):
#   WATCHDOG_SIGNING_PKCS12    the certificate with its private key, a PKCS#12 (.pfx) file
#   WATCHDOG_SIGNING_PASSWORD  its password
#   WATCHDOG_TIMESTAMP_URL     optional: an RFC 3161 time-stamp server, so that the signatures
#                              stay valid after the certificate expires
#   WATCHDOG_SIGNING_CA_FILE   optional: the certificates to verify the signatures against
#                              (default: the system's)
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

product_targets=(system_state_watchdog system_state_watchdog_uninstall watchdog_client_dll
  watchdog_client_archive stand_in_shell_process)
signed_binaries=(bin/system-state-watchdog.exe bin/system-state-watchdog-uninstall.exe
  bin/system-state-watchdog-client.dll)
password=""
trap '[ -z "$password" ] || rm -f "$password"' EXIT

fail() {
  log "release: $*"
  exit 1
}

files() { python3 "$repo_root/scripts/release_files.py" "$@"; }

version_in() { python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["version"])' "$1/vcpkg.json"; }

# What git tracks, or would, in the working tree: nothing that it ignores (the build folders).
copy_working_tree() {
  local destination=$1
  rm -rf "$destination"
  mkdir -p "$destination"
  (cd "$repo_root" && git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do if [ -e "$file" ]; then printf '%s\0' "$file"; fi; done |
    xargs -0 cp -P --parents -t "$destination" --)
}

export_commit() {
  local commit=$1 destination=$2
  rm -rf "$destination"
  mkdir -p "$destination"
  git -C "$repo_root" archive "$commit" | tar -x -C "$destination"
}

# The product alone (no test suite, no tools), as the linux-cross preset builds it.
build_product() {
  local source=$1 build=$2
  log "building the release from $source in $build"
  rm -rf "$build"
  cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
    --toolchain "$source/cmake/toolchain-mingw-w64-x86_64.cmake" \
    -DWATCHDOG_BUILD_TESTS=OFF -DWATCHDOG_BUILD_TOOLS=OFF >/dev/null
  cmake --build "$build" --target "${product_targets[@]}" >/dev/null
}

# The archive's folder: the install (binaries, headers, package, licence and notices), the
# stand-in shell for testing under Wine and, at its top, what a reader looks for first.
stage() {
  local build=$1 source=$2 folder=$3
  rm -rf "$folder"
  cmake --install "$build" --prefix "$folder" >/dev/null
  cmake --install "$build" --prefix "$folder" --component stand_in_shell >/dev/null
  cp "$source"/{README.md,CHANGELOG.md,LICENSE,THIRD-PARTY-NOTICES.md} "$folder/"
  cp -r "$source/docs" "$source/bindings" "$folder/"
}

same_or_fail() {
  local what=$1 first=$2 second=$3 found
  if ! found=$(files compare "$first" "$second"); then
    log "release: $what differ between the two builds:"
    sed 's/^/   /' <<<"$found" >&2
    exit 1
  fi
}

sign_and_verify() {
  local folder=$1 work=$2
  [ -f "$WATCHDOG_SIGNING_PKCS12" ] || fail "WATCHDOG_SIGNING_PKCS12 names no file"
  local timestamp=() trust=()
  # Through a file of the caller's own: a password on the command line is visible to every user.
  password="$work/signing-password"
  (umask 077 && printf '%s' "${WATCHDOG_SIGNING_PASSWORD:-}" >"$password")
  [ -z "${WATCHDOG_TIMESTAMP_URL:-}" ] || timestamp=(-ts "$WATCHDOG_TIMESTAMP_URL")
  [ -z "${WATCHDOG_SIGNING_CA_FILE:-}" ] || trust=(-CAfile "$WATCHDOG_SIGNING_CA_FILE")
  for binary in "${signed_binaries[@]}"; do
    osslsigncode sign -pkcs12 "$WATCHDOG_SIGNING_PKCS12" -readpass "$password" -h sha256 \
      -n "System State Watchdog" "${timestamp[@]}" -in "$folder/$binary" -out "$work/signed" \
      >"$work/signing.log" 2>&1 || { cat "$work/signing.log" >&2; fail "could not sign $binary"; }
    osslsigncode verify "${trust[@]}" -in "$work/signed" >"$work/verify.log" 2>&1 ||
      { cat "$work/verify.log" >&2; fail "the signature of $binary does not verify"; }
    files same-but-signature "$folder/$binary" "$work/signed" >&2 || fail "signing changed $binary"
    mv "$work/signed" "$folder/$binary"
    log "signed and verified $binary"
  done
}

# Compares the two builds, installed and packed, then signs and packs the second into `dist`.
release() {
  local first_build=$1 first_source=$2 second_build=$3 second_source=$4 work=$5 dist=$6
  local name
  name="system-state-watchdog-$(version_in "$second_source")-windows-x64"
  stage "$first_build" "$first_source" "$work/first"
  stage "$second_build" "$second_source" "$work/second"
  same_or_fail "the installed files" "$work/first" "$work/second"
  files pack "$work/first" "$name" "$work/first.zip" "$SOURCE_DATE_EPOCH"
  files pack "$work/second" "$name" "$work/second.zip" "$SOURCE_DATE_EPOCH"
  same_or_fail "the archives" "$work/first.zip" "$work/second.zip"
  log "both builds gave the same bytes"

  rm -rf "$dist"
  mkdir -p "$dist"
  [ -z "${WATCHDOG_SIGNING_PKCS12:-}" ] || sign_and_verify "$work/second" "$work"
  files pack "$work/second" "$name" "$dist/$name.zip" "$SOURCE_DATE_EPOCH"
  (cd "$dist" && sha256sum "$name.zip" >SHA256SUMS)
  log "released $dist/$name.zip ($(stat -c %s "$dist/$name.zip") bytes$([ -n "${WATCHDOG_SIGNING_PKCS12:-}" ] || echo ', not signed'))"
}

needed=(git cmake ninja x86_64-w64-mingw32-g++-posix python3 sha256sum)
[ -z "${WATCHDOG_SIGNING_PKCS12:-}" ] || needed+=(osslsigncode)
for tool in "${needed[@]}"; do
  command -v "$tool" >/dev/null || fail "$tool is missing: scripts/setup.sh installs it"
done

# Member times and anything else that tells the time: the last commit's.
SOURCE_DATE_EPOCH=$(git -C "$repo_root" log -1 --format=%ct)
export SOURCE_DATE_EPOCH

if [ "${1:-}" = "--check" ]; then
  first_build=$(realpath "${2:?usage: release.sh --check BUILD_DIR}")
  work="$first_build/release-check"
  cmake --build "$first_build" --target "${product_targets[@]}" >/dev/null
  copy_working_tree "$work/source"
  build_product "$work/source" "$work/build"
  release "$first_build" "$work/source" "$work/build" "$work/source" "$work" "$work/dist"
elif [ $# -eq 0 ]; then
  [ -z "$(git -C "$repo_root" status --porcelain)" ] ||
    fail "the tree has changes or files git does not know: a release is made from a commit"
  work="$repo_root/build/release"
  export_commit HEAD "$work/one/source"
  build_product "$work/one/source" "$work/one/build"
  export_commit HEAD "$work/two/another-folder/source"
  build_product "$work/two/another-folder/source" "$work/two/another-folder/build"
  release "$work/one/build" "$work/one/source" "$work/two/another-folder/build" \
    "$work/two/another-folder/source" "$work" "$repo_root/dist"
else
  sed -n '2,/^source/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
