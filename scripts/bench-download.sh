#!/usr/bin/env bash
# Download benchmark: a 1 GiB file from a loopback server, fetched in the same run by
#   - `curl -o` on Linux;
#   - curl.exe -o under Wine, in the same prefix: the curl tool built from the same
#     Debian source tree against the same OpenSSL as the program (dependency cache);
#   - recv_ceiling.exe under Wine: the response only recv'd into a buffer, nothing
#     written, the most the platform's sockets carry;
#   - the program's download path under Wine (download_bench.exe);
#   - the same program fetching the same file from a route that serves it whole, and
#     from the same route cutting the connection at 25, 50 and 75 %, so it must resume
#     three times (Range and If-Range); the cut run is timed against the whole one,
#     each round, and the best of each counts, with the median of the pairs' ratios
#     beside it. Both are served at 200 MB/s (1.6 Gbit/s, more than the networks the
#     program meets): unpaced, loopback makes each new connection a gamble under Wine
#     (Linux sizes its receive buffer from the first round trips it times, and a
#     connection left with a small one costs a wineserver request per small read),
#     and the cut run has to win it four times. Its first pause before a resume is
#     set to 20 ms instead of the program's 1 s: those pauses are a deliberate wait
#     for the network to come back, not the cost of resuming.
# Every contender writes where the others write (memory, when there is a tmpfs) and
# runs once a round, in turn, after one run that is not counted; the best of
# $BENCH_ROUNDS rounds (default 5) counts.
# Prints each one's MB/s, the ratios against their targets, the progress calls posted,
# the peak memory for the 1 GiB file and for a 64 MiB one, the cut run's time against
# the uninterrupted one, its bytes served and memory, and the load average.
# Usage: scripts/bench-download.sh [build folder]   (after a build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
source "$root/scripts/download-contenders.sh"

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
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a + 0 > b + 0) ? a : b }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }'; }
verdict() { awk -v r="$1" -v t="$2" 'BEGIN { print (r + 0 >= t + 0) ? "met" : "NOT met" }'; }
wine_run() { "$root/scripts/wine-exec.sh" "$@" | tr -d '\r'; }
same_as_big() { cmp -s "$big" "$1" || { echo "$2's copy differs" >&2; exit 1; }; rm -f "$1"; }
# The requests and body bytes the server sent for one download id: "<requests> <bytes>".
served() {
  curl -s "http://127.0.0.1:$BRINDLEX_DL_HTTP/served?id=$1" |
    python3 -c 'import json, sys; r = json.load(sys.stdin); print(len(r["requests"]), r["bytes"])'
}

# All copies go to memory (tmpfs) when there is one, so the disk's writeback does not
# swamp the comparison.
out_dir=$work
[ -d /dev/shm ] && out_dir=$(mktemp -d /dev/shm/brindlex-bench.XXXXXX)
trap 'stop; [ "$out_dir" != "$work" ] && rm -rf "$out_dir"' EXIT
rounds=${BENCH_ROUNDS:-5}
size=1073741824
cuts=$((size / 4)),$((size / 2)),$((size / 4 * 3))
resume_pause_ms=20
rate=200000000
pair_ratios= round_ratios=
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

serve "$big"
linux_mbs=0 curl_exe_mbs=0 ceiling_mbs=0 program_mbs=0 out=
cut_mbs=0 cut_out= cut_served= cut_ws=0 whole_mbs=0 whole_out=
# One run of each, not counted: the first after the prefix starts reads its libraries
# from disk.
curl -s -o /dev/null "$url"
wine_run "$curl_exe" -s -o "$out_dir/warm-up.bin" "$url" >/dev/null
wine_run "$ceiling_exe" "$url" >/dev/null
wine_run "$bench_exe" "$url" "$out_dir/warm-up.bin" >/dev/null
rm -f "$out_dir/warm-up.bin"
for round in $(seq "$rounds"); do
  mbs=$(curl -s -o "$out_dir/linux.bin" -w '%{speed_download}' "$url" | awk '{ printf "%.1f", $1 / 1e6 }')
  same_as_big "$out_dir/linux.bin" "curl"
  linux_mbs=$(best "$linux_mbs" "$mbs") round_linux=$mbs

  mbs=$(wine_run "$curl_exe" -s -o "$out_dir/curl-exe.bin" -w '%{speed_download}' "$url" |
        awk '{ printf "%.1f", $1 / 1e6 }')
  same_as_big "$out_dir/curl-exe.bin" "curl.exe"
  curl_exe_mbs=$(best "$curl_exe_mbs" "$mbs")

  run=$(wine_run "$ceiling_exe" "$url") || { echo "recv_ceiling failed: $run" >&2; exit 1; }
  [ "$(field bytes "$run")" = 1073741824 ] || { echo "recv_ceiling got $run" >&2; exit 1; }
  ceiling_mbs=$(best "$ceiling_mbs" "$(field MB/s "$run")")

  run=$(wine_run "$bench_exe" "$url" "$out_dir/program.bin")
  same_as_big "$out_dir/program.bin" "the program"
  mbs=$(field MB/s "$run")
  if [ "$(best "$program_mbs" "$mbs")" = "$mbs" ]; then program_mbs=$mbs out=$run; fi
  round_ratios="$round_ratios $(ratio "$mbs" "$round_linux")"

  # The same route without a cut is the like-for-like reference for the cut run.
  run=$(wine_run "$bench_exe" \
        "http://127.0.0.1:$BRINDLEX_DL_HTTP/resume?file=1&rate=$rate&id=whole$round" \
        "$out_dir/program-whole.bin" "$resume_pause_ms")
  same_as_big "$out_dir/program-whole.bin" "the program's download from the resumable route"
  mbs=$(field MB/s "$run") pair_whole=$(field seconds "$run")
  if [ "$(best "$whole_mbs" "$mbs")" = "$mbs" ]; then whole_mbs=$mbs whole_out=$run; fi

  run=$(wine_run "$bench_exe" \
        "http://127.0.0.1:$BRINDLEX_DL_HTTP/resume?file=1&rate=$rate&id=cut$round&cut=$cuts" \
        "$out_dir/program-cut.bin" "$resume_pause_ms")
  same_as_big "$out_dir/program-cut.bin" "the program's resumed download"
  mbs=$(field MB/s "$run")
  pair_ratios="$pair_ratios $(ratio "$(field seconds "$run")" "$pair_whole")"
  cut_ws=$(best "$cut_ws" "$(field peak_working_set_MiB "$run")")
  if [ "$(best "$cut_mbs" "$mbs")" = "$mbs" ]; then
    cut_mbs=$mbs cut_out=$run cut_served=$(served "cut$round")
  fi
  echo "round $round: best so far curl $linux_mbs, curl.exe $curl_exe_mbs," \
       "recv ceiling $ceiling_mbs, program $program_mbs, program cut 3 times $cut_mbs MB/s" >&2
done
stop

serve "$small"
small_out=$(wine_run "$bench_exe" "$url" "$out_dir/program.bin")
rm -f "$out_dir/program.bin"
stop
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# Against Linux curl the target is 0.95, unless Wine's own ceiling is below 0.95 of it:
# then the program is held to 0.95 of that ceiling instead.
ceiling_share=$(ratio "$ceiling_mbs" "$linux_mbs")
to_curl_exe=$(ratio "$program_mbs" "$curl_exe_mbs")
to_linux=$(ratio "$program_mbs" "$linux_mbs")
to_ceiling=$(ratio "$program_mbs" "$ceiling_mbs")
big_ws=$(field peak_working_set_MiB "$out") small_ws=$(field peak_working_set_MiB "$small_out")
calls=$(field progress_calls "$out")
cut_seconds=$(field seconds "$cut_out")
whole_seconds=$(field seconds "$whole_out")
to_uncut=$(ratio "$cut_seconds" "$whole_seconds")
median() {
  tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort -n |
    awk '{ r[NR] = $1 } END { printf "%.2f", (NR % 2) ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2 }'
}
median_pair=$(median "$pair_ratios")
read -r cut_requests cut_bytes <<<"$cut_served"
resumed_at=$(grep -o 'resuming at byte [0-9]*' <<<"$cut_out" | awk '{ print $4 }' | paste -sd, -)

printf 'file                          1 GiB (1073741824 bytes), loopback HTTP, best of %s, alternating\n' "$rounds"
printf 'load average                  before %s, after %s\n' "$load_before" "$load_after"
printf 'curl -o (Linux)               %s MB/s\n' "$linux_mbs"
printf 'curl.exe -o (Wine)            %s MB/s\n' "$curl_exe_mbs"
printf 'recv ceiling (Wine)           %s MB/s\n' "$ceiling_mbs"
printf 'program (Wine)                %s MB/s in %s s\n' "$program_mbs" "$(field seconds "$out")"
printf 'ratio program / curl.exe      %s (target >= 0.95: %s)\n' "$to_curl_exe" \
  "$(verdict "$to_curl_exe" 0.95)"
if [ "$(verdict "$ceiling_share" 0.95)" = met ]; then
  printf 'ratio program / Linux curl    %s (target >= 0.95: %s)\n' "$to_linux" \
    "$(verdict "$to_linux" 0.95)"
  printf '  each round                  median %s (%s)\n' "$(median "$round_ratios")" \
    "${round_ratios# }"
  printf 'ratio program / recv ceiling  %s (ceiling / Linux curl %s, so the target above holds)\n' \
    "$to_ceiling" "$ceiling_share"
else
  printf 'ratio program / Linux curl    %s (Wine'"'"'s ceiling is only %s of Linux curl)\n' \
    "$to_linux" "$ceiling_share"
  printf 'ratio program / recv ceiling  %s (target >= 0.95: %s)\n' "$to_ceiling" \
    "$(verdict "$to_ceiling" 0.95)"
fi
printf 'progress calls posted         %s, last %s %%, finished %s (target <= 100: %s)\n' \
  "$calls" "$(field last_percent "$out")" "$(field finished "$out")" \
  "$(awk -v c="$calls" 'BEGIN { print (c <= 100) ? "met" : "NOT met" }')"
printf 'peak memory, 1 GiB file       working set %s MiB, private %s MiB\n' \
  "$big_ws" "$(field peak_private_MiB "$out")"
printf 'peak memory, 64 MiB file      working set %s MiB, private %s MiB (flat: %s)\n' \
  "$small_ws" "$(field peak_private_MiB "$small_out")" \
  "$(awk -v a="$big_ws" -v b="$small_ws" 'BEGIN { print (a - b <= 4) ? "yes" : "NO" }')"
printf 'program, connection cut 3x   %s MB/s in %s s, %s requests, resumed at bytes %s\n' \
  "$cut_mbs" "$cut_seconds" "$cut_requests" "${resumed_at:-none}"
printf '  (served at %s MB/s, as the uncut run; first pause before a resume set to %s ms,\n' \
  "$((rate / 1000000))" "$resume_pause_ms"
printf '   %s ms in all, instead of 1 s, 7 s)\n' "$((resume_pause_ms * 7))"
printf '  byte-exact                  yes (every round compared with the source; a difference stops the run)\n'
printf '  same route, no cut           %s MB/s in %s s\n' "$whole_mbs" "$whole_seconds"
printf '  time / uninterrupted        %s, best against best (target <= 1.15: %s)\n' "$to_uncut" \
  "$(awk -v r="$to_uncut" 'BEGIN { print (r + 0 <= 1.15) ? "met" : "NOT met" }')"
printf '  each pair, cut / whole      median %s (%s)\n' "$median_pair" "${pair_ratios# }"
printf '  bytes served / file size    %s (%s bytes)\n' \
  "$(awk -v b="$cut_bytes" -v s="$size" 'BEGIN { printf "%.4f", b / s }')" "$cut_bytes"
printf '  peak memory                 working set %s MiB (highest of the rounds), private %s MiB' \
  "$cut_ws" "$(field peak_private_MiB "$cut_out")"
printf ' (flat with the uninterrupted %s MiB: %s)\n' "$big_ws" \
  "$(awk -v a="$cut_ws" -v b="$big_ws" 'BEGIN { print (a - b <= 4) ? "yes" : "NO" }')"
