#!/usr/bin/env bash
# Prints the cost of one "setCacheData" with 100, 1 000 and 10 000 members in the store,
# beside the cost of serialising alone and of a plain in-place rewrite, under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/env.sh"
build=${BRINDLEX_BUILD:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" --target store_bench >/dev/null
prefix=${WINEPREFIX:-$build/wine/w32}
if [ ! -d "$prefix" ]; then
  "$root/scripts/wine-prefixes.sh" "$build/wine" >/dev/null
fi
WINEPREFIX=$prefix "$root/scripts/wine-exec.sh" "$build/tests/bench/store_bench.exe"
