#!/usr/bin/env bash
# Download benchmark: a 1 GiB file from a loopback server, fetched by the program's
# download path under Wine (download_bench.exe) and by `curl -o` on Linux from the same
# server in the same run. Prints MB/s of both, their ratio, the progress calls posted
# and the peak memory (also for a 64 MiB file, to show it does not grow with the size).
# Usage: scripts/bench-download.sh [build folder]   (after a build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
source "$root/scripts/env.sh"
bench_exe=$build/tests/bench/download_bench.exe
[ -f "$bench_exe" ] || cmake --build "$build" --target download_bench
export WINEPREFIX=${WINEPREFIX:-$build/wine/w32}
[ -d "$WINEPREFIX" ] || "$root/scripts/wine-prefixes.sh" "$build/wine"

work=$build/bench-download
mkdir -p "$work"
big=$work/source-1GiB.bin
small=$work/source-64MiB.bin
[ -f "$big" ] || head -c 1073741824 /dev/urandom > "$big"
[ -f "$small" ] || head -c 67108864 "$big" > "$small"
cat "$big" "$small" > /dev/null   # both reads come from the page cache

serve() {  # file -> sets url and server
  local ports; ports=$(mktemp "$work/ports.XXXXXX"); rm -f "$ports"
  python3 "$root/tests/tools/download_server.py" --ports-file "$ports" --file "$1" &
  server=$!
  for _ in $(seq 100); do [ -f "$ports" ] && break; sleep 0.1; done
  source "$ports"; rm -f "$ports"
  url="http://127.0.0.1:$BRINDLEX_DL_HTTP/file"
}
stop() { kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; }
field() { awk -v k="$1" '$1 == k { print $2 }' <<<"$2"; }

# Both copies go to memory (tmpfs) when there is one, so the disk's writeback does not
# swamp the comparison; each side runs $rounds times, alternating, and its best counts.
out_dir=$work
[ -d /dev/shm ] && out_dir=$(mktemp -d /dev/shm/brindlex-bench.XXXXXX)
trap 'stop; [ "$out_dir" != "$work" ] && rm -rf "$out_dir"' EXIT
rounds=${BENCH_ROUNDS:-3}
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a + 0 > b + 0) ? a : b }'; }

serve "$big"
curl_mbs=0 program_mbs=0 out=
for round in $(seq "$rounds"); do
  rm -f "$out_dir/curl.bin"
  mbs=$(curl -s -o "$out_dir/curl.bin" -w '%{speed_download}' "$url" | awk '{ printf "%.1f", $1 / 1e6 }')
  cmp -s "$big" "$out_dir/curl.bin" || { echo "curl's copy differs" >&2; exit 1; }
  rm -f "$out_dir/curl.bin"
  curl_mbs=$(best "$curl_mbs" "$mbs")
  run=$("$root/scripts/wine-exec.sh" "$bench_exe" "$url" "$out_dir/program.bin" | tr -d '\r')
  cmp -s "$big" "$out_dir/program.bin" || { echo "the program's copy differs" >&2; exit 1; }
  rm -f "$out_dir/program.bin"
  mbs=$(field MB/s "$run")
  echo "round $round: best so far curl $curl_mbs, program $(best "$program_mbs" "$mbs") MB/s" >&2
  if [ "$(best "$program_mbs" "$mbs")" = "$mbs" ]; then program_mbs=$mbs out=$run; fi
done
stop

serve "$small"
small_out=$("$root/scripts/wine-exec.sh" "$bench_exe" "$url" "$out_dir/program.bin" | tr -d '\r')
rm -f "$out_dir/program.bin"
stop

printf 'file                      1 GiB (1073741824 bytes), loopback HTTP, best of %s\n' "$rounds"
printf 'curl -o (Linux)           %s MB/s\n' "$curl_mbs"
printf 'program (Wine)            %s MB/s in %s s\n' "$program_mbs" "$(field seconds "$out")"
printf 'ratio program / curl      %s (target >= 0.9)\n' \
  "$(awk -v a="$program_mbs" -v b="$curl_mbs" 'BEGIN { printf "%.2f", a / b }')"
printf 'progress calls posted     %s, last %s %%, finished %s (target <= 100)\n' \
  "$(field progress_calls "$out")" "$(field last_percent "$out")" "$(field finished "$out")"
printf 'peak memory, 1 GiB file   working set %s MiB, private %s MiB\n' \
  "$(field peak_working_set_MiB "$out")" "$(field peak_private_MiB "$out")"
printf 'peak memory, 64 MiB file  working set %s MiB, private %s MiB\n' \
  "$(field peak_working_set_MiB "$small_out")" "$(field peak_private_MiB "$small_out")"
