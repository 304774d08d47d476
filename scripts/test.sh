#!/usr/bin/env bash
# The whole test suite: set up what is missing, build, create fresh Wine prefixes,
# start a virtual display when there is none, and run every test under Wine.
# scripts/test.sh --case NAME runs one end-to-end case (NAME a regular expression on
# the cases' names) or else the unit tests GoogleTest's filter NAME selects, in the
# existing build and prefixes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# One case against what the last full run left: no setup, no fresh prefixes; the
# build is brought up to date. A failed end-to-end case leaves its folder, the
# programs' output and a screenshot in build/e2e-failed/<case>/.
if [ "${1:-}" = --case ]; then
  [ $# = 2 ] || { echo "usage: scripts/test.sh --case NAME" >&2; exit 2; }
  source "$root/scripts/env.sh"
  choose_wine "$root/build-x64"
  build=${BRINDLEX_BUILD:-$root/build}
  prefix=w32
  if [ $BRINDLEX_ARCH = x86_64 ]; then build=${BRINDLEX_BUILD:-$root/build-x64} prefix=w64; fi
  cmake --build "$build"
  cases=()
  for file in "$root"/tests/e2e/cases_*.py; do cases+=(--cases "$file"); done
  groups=$(python3 -B "$root/tests/e2e/e2e.py" --list --only "$2" "${cases[@]}" | cut -f1 | sort -u)
  if [ -n "$groups" ]; then
    tests="^e2e_($(echo $groups | tr ' ' '|'))_$prefix\$" folder=$prefix
  else
    tests="^unit_${prefix}_cp1252\$" folder=${prefix}u
  fi
  [ -d "$build/wine/$folder" ] || { echo "[test] no prefix $build/wine/$folder: run scripts/test.sh once" >&2; exit 1; }
  xvfb_pids=()
  trap 'WINEPREFIX="$build/wine/$folder" wineserver -k 2>/dev/null; kill "${xvfb_pids[@]}" 2>/dev/null' EXIT
  start_prefix_displays "$folder"
  WINEPREFIX="$build/wine/$folder" wineserver -p
  display_variable=BRINDLEX_DISPLAY_$folder
  WINEPREFIX="$build/wine/$folder" DISPLAY=${!display_variable} WINEDLLOVERRIDES="mscoree,mshtml=" \
    wine cmd.exe /c exit </dev/null >/dev/null 2>&1
  status=0
  E2E_ONLY=$2 GTEST_FILTER=$2 BRINDLEX_E2E_REMAINS=$build/e2e-failed \
    ctest --test-dir "$build" -V -R "$tests" | tee "$build/case-output.log" \
    || status=$?
  if [ -z "$groups" ] && grep -q '\] 0 tests from' "$build/case-output.log"; then
    echo "[test] $2 names no end-to-end case and no unit test" >&2; status=1
  fi
  exit $status
fi
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
source "$root/scripts/env.sh"
choose_wine "$root/build-x64"
build=${BRINDLEX_BUILD:-$root/build}
toolchain=$root/cmake/mingw-i686.cmake
# The end-to-end tests' prefixes, the XP-mode one, and the unit tests' own, so that
# those run beside the end-to-end tests of their kind.
prefixes=(w32 w64 wxp w32u w64u)
if [ $BRINDLEX_ARCH = x86_64 ]; then
  echo "[test] this machine cannot run 32-bit programs ($(no_32bit_reason))."
  echo "[test] checking the same sources built for 64-bit Windows, under 64-bit Wine;" \
       "not run here: the 32-bit program under Wine, the 32-bit and XP-mode prefixes and" \
       "the setup program's cases"
  build=${BRINDLEX_BUILD:-$root/build-x64}
  toolchain=$root/cmake/mingw-x86_64.cmake
  prefixes=(w64 w64u)
fi
mkdir -p "$build"
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
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  >/dev/null
cmake --build "$build"
stage "configure and build done"
rm -rf "$build/test-results"
mkdir -p "$build/test-results"
status=0
# Without 32-bit Wine the product is still built, and its checks that need no Wine run:
# its imports against XP's exports, the stand-in's export tables, the release symbols.
if [ $BRINDLEX_ARCH = x86_64 ]; then
  product_build=${BRINDLEX_PRODUCT_BUILD:-$root/build}
  cmake -S "$root" -B "$product_build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
  cmake --build "$product_build" --target brindlex node_standin node_standin_lacking
  ctest --test-dir "$product_build" --output-on-failure -R '^(imports_xp|standin_|release_)' \
    --output-junit "$build/test-results/ctest-product.xml" || status=$?
  stage "the 32-bit program built and checked"
fi
prefixes_status=0
wait "$prefixes_pid" || prefixes_status=$?
prefixes_pid=
cat "$build/wine-prefixes.log"
[ $prefixes_status = 0 ] || { echo "[test] the Wine prefixes could not be made" >&2; exit 1; }
stage "wine prefixes ready"
# Each prefix runs its tests one after another; the prefixes (and the tests that need
# none) run side by side.
tests_status=0
ctest --test-dir "$build" --output-on-failure -j"${BRINDLEX_TEST_JOBS:-${#prefixes[@]}}" \
  --output-junit "$build/test-results/ctest.xml" "$@" \
  | tee "$build/ctest-output.log" || tests_status=$?
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
# Two prefixes' tests share two cores, and a test that failed only once under that load
# must not sink the run unseen or unexplained: up to three failed tests run again, once,
# alone. Their first failure stays printed above, and one that passes again is named as
# an intermittent fault to chase.
failed_list=$build/Testing/Temporary/LastTestsFailed.log
if [ $tests_status != 0 ] && [ -s "$failed_list" ] && [ "$(wc -l <"$failed_list")" -le 3 ]; then
  failed=$(cut -d: -f2 "$failed_list" | tr '\n' ' ')
  echo "[test] running again, once and alone: $failed"
  if ctest --test-dir "$build" --output-on-failure --rerun-failed >"$build/ctest-rerun.log" 2>&1; then
    echo "[test] intermittent: failed at first, passed when run again: $failed(the first failure is printed above)"
    tests_status=0
  else
    tail -n 80 "$build/ctest-rerun.log"
    echo "[test] failed again: $(cut -d: -f2 "$failed_list" | tr '\n' ' ')"
  fi
fi
[ $tests_status = 0 ] || status=$tests_status
stage "tests done"
# The whole run is meant to take at most ten minutes on a two-core machine.
if [ $(( $(date +%s) - started )) -gt 600 ]; then
  echo "[test] warning: the run took more than 10 minutes ($(( $(date +%s) - started ))s)" >&2
fi
exit $status
