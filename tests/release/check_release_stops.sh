#!/usr/bin/env bash
# The release script stops when its two builds differ. It runs, as it is, in a small git project
# of the watchdog's shape whose build writes its own folder into one installed file, so that the
# two builds differ there and nowhere else: the script must fail, name that file alone, and leave
# no archive behind.
#
# Usage: check_release_stops.sh
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
project="$scratch/project"

mkdir -p "$project"/{scripts,cmake,docs,bindings}
cp "$repo_root"/scripts/{release.sh,common.sh,release_files.py} "$project/scripts/"
touch "$project"/{README.md,CHANGELOG.md,LICENSE,THIRD-PARTY-NOTICES.md,docs/guide.md} \
  "$project"/{bindings/binding.txt,cmake/toolchain-mingw-w64-x86_64.cmake}
echo '{ "version": "1.2.3" }' >"$project/vcpkg.json"
echo 'build/' >"$project/.gitignore"
cat >"$project/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(release_shape LANGUAGES NONE)
file(WRITE "${CMAKE_BINARY_DIR}/same.txt" "the same in every build\n")
file(WRITE "${CMAKE_BINARY_DIR}/folder.txt" "${CMAKE_BINARY_DIR}\n")
install(FILES "${CMAKE_BINARY_DIR}/same.txt" "${CMAKE_BINARY_DIR}/folder.txt" DESTINATION bin)
foreach(target system_state_watchdog system_state_watchdog_uninstall watchdog_client_dll
               watchdog_client_archive stand_in_shell_process)
  add_custom_target(${target})
endforeach()
EOF
git -C "$project" init -q
git -C "$project" add -A
git -C "$project" -c user.name=test -c user.email=test@example.invalid commit -q -m "a project"
cmake -S "$project" -B "$project/build" -G Ninja >/dev/null

status=0
"$project/scripts/release.sh" --check "$project/build" 2>"$scratch/release.log" || status=$?
failures=()
[ "$status" -ne 0 ] || failures+=("the script ended with 0")
grep -q 'bin/folder\.txt: differs' "$scratch/release.log" || failures+=("bin/folder.txt unnamed")
! grep -q 'same\.txt' "$scratch/release.log" || failures+=("bin/same.txt is named as well")
archives=$(find "$project/build/release-check" -path '*/dist/*.zip')
[ -z "$archives" ] || failures+=("it left an archive: $archives")
if [ ${#failures[@]} -gt 0 ]; then
  sed 's/^/   /' "$scratch/release.log"
  printf 'FAIL %s\n' "${failures[@]}"
  exit 1
fi
echo "ok   two builds that differ: exit $status, bin/folder.txt named, no archive"
