#!/usr/bin/env bash
# The whole test suite: set up what is missing, build, create fresh Wine prefixes,
# start a virtual display when there is none, and run every test under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
started=$(date +%s)
stage_started=$started
# Each stage's own duration, and the run's total so far.
stage() {
  local now; now=$(date +%s)
  printf '[test] %s (%ds, total %ds)\n' "$1" $(( now - stage_started )) $(( now - started ))
  stage_started=$now
}

"$root/scripts/setup.sh"
stage "setup done"
# Wine runs a 32-bit Windows program in a 32-bit Linux process. A kernel started without
# its 32-bit support (ia32_emulation=off, or built without IA32_EMULATION) refuses those,
# and every test but the build's would fail one by one after minutes of waiting.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "[test] this machine cannot run 32-bit x86 programs, so Wine cannot run the program" \
       "or its tests: the kernel refuses 32-bit executables ($(dmesg 2>/dev/null |
       grep -m1 -o '32-bit emulation disabled.*' || echo 'no reason given'))" >&2
  exit 1
fi
source "$root/scripts/env.sh"
build=${BRINDLEX_BUILD:-$root/build}
mkdir -p "$build"

# The end-to-end tests' prefixes, the XP-mode one, and the unit tests' own, so that
# those run beside the end-to-end tests of their kind.
prefixes=(w32 w64 wxp w32u w64u)
xvfb_pids=()
cleanup() {
  [ -n "${prefixes_pid:-}" ] && wait "$prefixes_pid" 2>/dev/null || true
  "$root/scripts/wine-prefixes.sh" "$build/wine" stop "${prefixes[@]}" || true
  local pid
  for pid in "${xvfb_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
start_prefix_displays "${prefixes[@]}"
# The Wine prefixes boot while the build runs: a boot is mostly waiting.
"$root/scripts/wine-prefixes.sh" "$build/wine" start "${prefixes[@]}" >"$build/wine-prefixes.log" 2>&1 &
prefixes_pid=$!
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  >/dev/null
cmake --build "$build"
stage "configure and build done"
prefixes_status=0
wait "$prefixes_pid" || prefixes_status=$?
prefixes_pid=
cat "$build/wine-prefixes.log"
[ $prefixes_status = 0 ] || { echo "[test] the Wine prefixes could not be made" >&2; exit 1; }
stage "wine prefixes ready"
status=0
# Each prefix runs its tests one after another; the prefixes (and the tests that need
# none) run side by side.
rm -rf "$build/test-results"
mkdir -p "$build/test-results"
ctest --test-dir "$build" --output-on-failure -j"${BRINDLEX_TEST_JOBS:-${#prefixes[@]}}" \
  --output-junit "$build/test-results/ctest.xml" "$@" \
  | tee "$build/ctest-output.log" || status=$?
# Time spent in each group of tests (a group's runs in every prefix and code page).
awk '/Test +#[0-9]+: / && / sec$/ {
       for (i = 1; i <= NF; i++) if ($i ~ /^#[0-9]+:$/) name = $(i + 1)
       sub(/_(w32|w64|wxp)(_cp[0-9]+)?$/, "", name)
       if (!(name in seconds)) order[++groups] = name
       seconds[name] += $(NF - 1); count[name]++
     }
     END { for (g = 1; g <= groups; g++)
             printf "[test] group %s: %d tests, %.0fs\n", order[g], count[order[g]], seconds[order[g]] }' \
  "$build/ctest-output.log"
# The bad-input campaign's figures (calls made, memory before and after), and the
# OS name each prefix's program gave.
grep -hE '^(hostile: [0-9]* calls|getSysVersion in )' "$build/Testing/Temporary/LastTest.log" \
  2>/dev/null \
  | sed 's/^/[test] /' || true
# ctest counts a skip as a pass: every skipped test is named, and one this machine
# could have run fails the run.
python3 -B "$root/tests/tools/test_results.py" "$build/test-results" || status=1
stage "tests done"
# The whole run is meant to take at most ten minutes on a two-core machine.
if [ $(( $(date +%s) - started )) -gt 600 ]; then
  echo "[test] warning: the run took more than 10 minutes ($(( $(date +%s) - started ))s)" >&2
fi
exit $status
