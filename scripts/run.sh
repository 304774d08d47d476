#!/usr/bin/env bash
# Builds the program and runs it under Wine on the bridge console page (demo/), served
# on the loopback origin the demo build opens. With a display it runs until the window
# is closed; with none it runs under Xvfb, saves a screenshot once the page is shown
# and stops the program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/setup.sh"
source "$root/scripts/env.sh"
choose_wine "$root/build-x64"
build=${BRINDLEX_BUILD:-$root/build}
toolchain=$root/cmake/mingw-i686.cmake
if [ $BRINDLEX_ARCH = x86_64 ]; then
  echo "[run] this machine cannot run 32-bit programs ($(no_32bit_reason)): showing a" \
       "64-bit build of the same sources instead"
  build=${BRINDLEX_BUILD:-$root/build-x64}
  toolchain=$root/cmake/mingw-x86_64.cmake
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
cmake --build "$build" --target brindlex_demo
port=$(sed -n 's/^BRINDLEX_DEMO_PORT:[A-Z]*=//p' "$build/CMakeCache.txt")
port=${port:-47812}

export WINEPREFIX=${BRINDLEX_DEMO_PREFIX:-$build/wine/demo}
export WINEDLLOVERRIDES="mscoree,mshtml="
log="$build/demo.log"
server_pid="" program_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

start_display
python3 "$root/scripts/demo-server.py" "$root/demo" "$port" "$root/sdk" \
  2>"$build/demo-server.log" &
server_pid=$!
if [ ! -d "$WINEPREFIX" ]; then
  echo "[run] creating the Wine prefix $WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  if ! wineboot -i >/dev/null 2>&1; then
    echo "[run] could not create the Wine prefix $WINEPREFIX" >&2
    exit 1
  fi
  wineserver -w
fi

echo "[run] bridge console: http://127.0.0.1:$port/toolv2/brindlex"
echo "[run] reference for page authors: $root/sdk/README.md"
"$root/scripts/wine-exec.sh" "$build/brindlex_demo.exe" >"$log" 2>&1 &
program_pid=$!

if [ -z "${xvfb_pid:-}" ]; then
  # A real display: follow the program's log until its window is closed.
  tail -n +1 -f "$log" --pid="$program_pid"
  wait "$program_pid" || true
  program_pid=""
  exit 0
fi

# No display of our own: wait for the page, photograph the screen, stop.
for _ in $(seq 600); do
  grep -q '^\[console\] bridge console: page ready' "$log" && break
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q '^\[console\] bridge console: page ready' "$log"; then
  echo "[run] the page did not come up; program output:" >&2
  cat "$log" >&2
  exit 1
fi
sleep 1
shot="$build/demo-screenshot.png"
import -window root "$shot"
cat "$log"
echo "[run] screenshot: $shot"
