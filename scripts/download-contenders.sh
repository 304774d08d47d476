# Sourced by scripts/bench-download.sh and scripts/profile-download.sh (with root and
# build set): the contenders' programs, built when missing, and the Wine prefix they
# share, with its server and services already up so that no contender pays for
# starting them. Sets bench_exe, ceiling_exe, curl_exe and WINEPREFIX.
source "$root/scripts/env.sh"
bench_exe=$build/tests/bench/download_bench.exe
ceiling_exe=$build/tests/bench/recv_ceiling.exe
curl_exe=$BRINDLEX_DEPS/i686/bin/curl.exe
[ -f "$bench_exe" ] && [ -f "$ceiling_exe" ] ||
  cmake --build "$build" --target download_bench recv_ceiling
[ -f "$curl_exe" ] || { echo "no $curl_exe: run scripts/setup.sh" >&2; exit 1; }
export WINEPREFIX=${WINEPREFIX:-$build/wine/w32}
# The prefix's server and background programs get none of the script's output: one
# that inherited it would hold the script's pipe open after the script ends.
[ -d "$WINEPREFIX" ] || "$root/scripts/wine-prefixes.sh" "$build/wine" >/dev/null 2>&1
# One server for the whole run: it stays 30 s after the last program.
wineserver -p30 </dev/null >/dev/null 2>&1 || true
"$root/scripts/wine-exec.sh" cmd.exe /c exit </dev/null >/dev/null 2>&1
