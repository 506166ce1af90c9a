#!/usr/bin/env bash
# The release script in its checking mode, signing with a throw-away self-signed certificate made
# here: it builds the product once more beside BUILD_DIR's build, stops unless both give the same
# bytes, signs, verifies and packs. Then the archive is opened as its user would: its sums hold,
# its members carry the last commit's time and every part a release carries, and its executable
# and DLL carry SHA-256 signatures that verify and are, apart from the signature, the very files
# this build tree's tests ran.
#
# Usage: check_release.sh BUILD_DIR
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build_dir=$(realpath "${1:?usage: check_release.sh BUILD_DIR}")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

password=$(openssl rand -hex 16)
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=System State Watchdog throw-away signer" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$scratch/key.pem" -out "$scratch/certificate.pem" \
  2>/dev/null
openssl pkcs12 -export -inkey "$scratch/key.pem" -in "$scratch/certificate.pem" \
  -out "$scratch/signer.p12" -passout "pass:$password"

WATCHDOG_SIGNING_PKCS12="$scratch/signer.p12" WATCHDOG_SIGNING_PASSWORD="$password" \
  WATCHDOG_SIGNING_CA_FILE="$scratch/certificate.pem" \
  "$repo_root/scripts/release.sh" --check "$build_dir"

dist="$build_dir/release-check/dist"
(cd "$dist" && sha256sum --check --strict SHA256SUMS)
python3 "$repo_root/tests/release/check_archive.py" \
  "$dist"/system-state-watchdog-*-windows-x64.zip "$repo_root"
mkdir "$scratch/unpacked"
(cd "$scratch/unpacked" && cmake -E tar xf "$dist"/system-state-watchdog-*-windows-x64.zip)
release=$(echo "$scratch"/unpacked/system-state-watchdog-*-windows-x64)
for binary in bin/system-state-watchdog.exe bin/system-state-watchdog-uninstall.exe \
  bin/system-state-watchdog-client.dll; do
  verified=$(osslsigncode verify -CAfile "$scratch/certificate.pem" -in "$release/$binary")
  # Both the file's digest and the signer's: Windows has deprecated SHA-1 for code signing.
  digests=$(sed -n 's/^Message digest algorithm *: *//p' <<<"$verified" | sort -u)
  if [ "$digests" != SHA256 ]; then
    echo "FAIL $binary: signed with '${digests//$'\n'/, }', not SHA256"
    exit 1
  fi
  python3 "$repo_root/scripts/release_files.py" same-but-signature "$build_dir/$binary" \
    "$release/$binary"
  echo "ok   $binary: signed, the signature verifies, and the rest is this build's own"
done
for notice in LICENSE THIRD-PARTY-NOTICES.md share/doc/system-state-watchdog/LICENSE \
  share/doc/system-state-watchdog/THIRD-PARTY-NOTICES.md; do
  cmp "$repo_root/$(basename "$notice")" "$release/$notice"
done
echo "ok   the licence and the notices travel in the archive"
