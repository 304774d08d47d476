# Sourced by the README's commands: where the dependency cache is, and a virtual
# display for Wine's windows when the machine has none.
export BRINDLEX_DEPS=${BRINDLEX_DEPS:-/var/cache/brindlex/deps-v2}
export WINEDEBUG=${WINEDEBUG:--all}

start_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return; fi
  local n
  for n in $(seq 91 120); do
    [ -e "/tmp/.X$n-lock" ] && continue
    # Large enough for the main window at 200 % scaling (1800 x 1200).
    Xvfb ":$n" -screen 0 2560x1600x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return; sleep 0.1; done
  done
  echo "could not start Xvfb" >&2; return 1
}
