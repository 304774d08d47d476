#!/usr/bin/env bash
# wine-prefixes.sh <root> [start|stop] [names...]
# Creates fresh throwaway Wine prefixes for one test run under <root>: by default w32
# (pure 32-bit), w64 (WoW64) and wxp (32-bit, presenting itself as Windows XP); a name
# ending in "u" is another of its kind (w32u, w64u: the unit tests' own). Leaves one
# wineserver running for each (stop with "stop"). The prefixes boot side by side:
# most of a boot is waiting.
set -euo pipefail
mkdir -p "$1"; root=$(cd "$1" && pwd); action=${2:-start}
shift $(( $# < 2 ? $# : 2 ))
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(w32 w64 wxp)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

make_prefix() {
  local name=$1 arch=${1%u} prefix="$root/$1" winearch=win32 display_variable=BRINDLEX_DISPLAY_$1
  [ $arch = w64 ] && winearch=win64
  # The prefix's desktop lives on the display its tests use.
  [ -n "${!display_variable:-}" ] && export DISPLAY=${!display_variable}
  if [ -d "$prefix" ]; then
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
    WINEPREFIX="$prefix" wineserver -w 2>/dev/null || true
    rm -rf "$prefix"
  fi
  echo "[wine] creating $name prefix"
  WINEARCH=$winearch WINEPREFIX="$prefix" wineboot -i >/dev/null 2>&1
  WINEPREFIX="$prefix" wineserver -w
  WINEPREFIX="$prefix" wineserver -p
  # Every program started later reads the Windows version from here.
  if [ $arch = wxp ]; then
    WINEPREFIX="$prefix" wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d winxp \
      /f </dev/null >/dev/null 2>&1
  fi
  # The display has no window manager: a managed window that is hidden or destroyed
  # makes Wine wait 2 s for a withdrawal no manager ever confirms, at every program end.
  WINEPREFIX="$prefix" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ \
    /d N /f </dev/null >/dev/null 2>&1
  # A crashing test program prints its backtrace to its own error output and ends,
  # instead of waiting for someone to close the crash dialog on a display nobody sees.
  WINEPREFIX="$prefix" wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog \
    /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
  # Start the prefix's background services now, detached from any test's output:
  # a test that started them would keep its output pipe open for as long as they run.
  WINEPREFIX="$prefix" wine cmd.exe /c exit </dev/null >/dev/null 2>&1
  echo "[wine] $name prefix ready"
}

if [ "$action" = stop ]; then
  for name in "${names[@]}"; do
    [ -d "$root/$name" ] && WINEPREFIX="$root/$name" wineserver -k 2>/dev/null || true
  done
  exit 0
fi
pids=()
for name in "${names[@]}"; do
  make_prefix "$name" &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit $status
