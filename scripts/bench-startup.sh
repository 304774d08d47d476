#!/usr/bin/env bash
# Prints the median time from process start to the start page's first document ready,
# beside a program that only shows a window of the same size, and the time Init takes
# to write out, check and load a 32 MiB engine, under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/env.sh"
build=${BRINDLEX_BUILD:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" --target brindlex_e2e floor_window engine_init_bench >/dev/null
prefix=${WINEPREFIX:-$build/wine/w32}
if [ ! -d "$prefix" ]; then
  "$root/scripts/wine-prefixes.sh" "$build/wine" >/dev/null
fi
trap '[ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true' EXIT
start_display
port=$(sed -n 's/^BRINDLEX_E2E_PORT:STRING=//p' "$build/CMakeCache.txt")
WINEPREFIX=$prefix python3 "$root/tests/bench/startup_bench.py" \
  --exe "$build/brindlex_e2e.exe" --floor "$build/tests/bench/floor_window.exe" \
  --init-bench "$build/tests/bench/engine_init_bench.exe" \
  --wine-exec "$root/scripts/wine-exec.sh" --port "${port:-47811}" "$@"
