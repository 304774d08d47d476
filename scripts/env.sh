# Sourced by the README's commands: where the dependency cache is, and a virtual
# display for Wine's windows when the machine has none.
export BRINDLEX_DEPS=${BRINDLEX_DEPS:-/var/cache/brindlex/deps-v2}
export WINEDEBUG=${WINEDEBUG:--all}

# Wine runs the product, a 32-bit program, in a 32-bit Linux process, which a kernel
# started without its 32-bit support refuses. There the tests check the same sources
# built for 64-bit Windows under 64-bit Wine instead: not the product, and without the
# 32-bit and XP-mode prefixes or the setup program. Sets BRINDLEX_ARCH (i686 or
# x86_64); for x86_64 it also puts a `wine` that starts Wine's 64-bit loader first on
# PATH, since Debian's own picks the 32-bit loader whenever it is installed.
choose_wine() {
  BRINDLEX_ARCH=i686
  /usr/lib/wine/wine --version >/dev/null 2>&1 && return
  BRINDLEX_ARCH=x86_64
  local shim=$1/wine64-bin name
  mkdir -p "$shim"
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$shim/$name"
    chmod +x "$shim/$name"
  done
  export PATH="$shim:$PATH" WINELOADER=/usr/lib/wine/wine64
}

# Why this machine runs no 32-bit programs, as the kernel said it.
no_32bit_reason() {
  dmesg 2>/dev/null | grep -m1 -o '32-bit emulation disabled.*' || echo 'no reason given'
}

# Starts an Xvfb on the first free display number; sets new_display (":N") and
# xvfb_pid, and adds the pid to xvfb_pids.
start_xvfb() {
  local n
  for n in $(seq 91 140); do
    [ -e "/tmp/.X$n-lock" ] && continue
    # Large enough for the main window at 200 % scaling (1800 x 1200).
    Xvfb ":$n" -screen 0 2560x1600x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    xvfb_pids+=("$xvfb_pid")
    new_display=":$n"
    for _ in $(seq 50); do DISPLAY=$new_display xdpyinfo >/dev/null 2>&1 && return; sleep 0.1; done
  done
  echo "could not start Xvfb" >&2; return 1
}

start_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return; fi
  start_xvfb
  export DISPLAY=$new_display
}

# One private display per test prefix (BRINDLEX_DISPLAY_<prefix folder name>): tests of
# different prefixes run side by side and move the mouse and the focus, which must not meet on
# one screen (nor on the user's).
start_prefix_displays() {
  local prefix
  for prefix in "$@"; do
    start_xvfb
    export "BRINDLEX_DISPLAY_$prefix=$new_display"
  done
}
