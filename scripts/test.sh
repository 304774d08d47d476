#!/usr/bin/env bash
# The whole test suite: set up what is missing, build, create fresh Wine prefixes,
# start a virtual display when there is none, and run every test under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
started=$(date +%s)
stage() { printf '[test] %s (%ds)\n' "$1" $(( $(date +%s) - started )); }

"$root/scripts/setup.sh"
stage "setup done"
source "$root/scripts/env.sh"
build=${BRINDLEX_BUILD:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  >/dev/null
cmake --build "$build"
stage "build done"

cleanup() {
  "$root/scripts/wine-prefixes.sh" "$build/wine" stop || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
start_display
"$root/scripts/wine-prefixes.sh" "$build/wine"
stage "wine prefixes ready"
ctest --test-dir "$build" --output-on-failure -j2 "$@"
stage "tests done"
