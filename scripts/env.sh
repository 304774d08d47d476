# Sourced by the README's commands: where the dependency cache is, and a virtual
# display for Wine's windows when the machine has none.
export BRINDLEX_DEPS=${BRINDLEX_DEPS:-/var/cache/brindlex/deps-v2}
export WINEDEBUG=${WINEDEBUG:--all}

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
