#!/usr/bin/env bash
# Throughput of FileHelper::GetFileMd5 under Wine against md5sum and `openssl md5` on
# the same generated file (512 MiB unless given), in the same run. For each: MB/s
# (10^6 bytes per second) by wall clock and by CPU time (user + system; the machine
# may be shared, which skews wall-clock figures), best of three runs; then the
# ratios and the peak working set of the hashing process.
# Usage: scripts/bench-md5.sh [size in MiB]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/env.sh"
build=${BRINDLEX_BUILD:-$root/build}
mib=${1:-512}
runs=3
bench="$build/tests/bench/md5_bench.exe"

[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" --target md5_bench >/dev/null

export WINEPREFIX=${WINEPREFIX:-$build/wine/w32}
[ -d "$WINEPREFIX" ] || "$root/scripts/wine-prefixes.sh" "$build/wine"

work=$(mktemp -d "${TMPDIR:-/tmp}/bench-md5.XXXXXX")
trap 'rm -rf "$work"' EXIT
file="$work/data.bin"
# Incompressible, reproducible content. (The generator ends on a broken pipe once
# head has enough.)
{ openssl enc -aes-128-ctr -nosalt -pass pass:brindlex -pbkdf2 -in /dev/zero 2>/dev/null || true; } |
  head -c $((mib * 1024 * 1024)) >"$file"
bytes=$(stat -c %s "$file")
cat "$file" >/dev/null  # every contender reads from the page cache

calc() { awk "BEGIN { print $1 }"; }
min() { if [ -z "$1" ] || [ "$(calc "$2 < $1")" = 1 ]; then echo "$2"; else echo "$1"; fi; }
mbps() { awk "BEGIN { printf \"%.1f\", $bytes / 1000000 / $1 }"; }
ratio() { awk "BEGIN { printf \"%.2f\", $1 / $2 }"; }

# Best wall-clock and CPU seconds of a host command over the runs.
measure_host() {
  local wall="" cpu="" line r u s
  for _ in $(seq $runs); do
    line=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null; } 2>&1 )
    read -r r u s <<<"$line"
    wall=$(min "$wall" "$r"); cpu=$(min "$cpu" "$(calc "$u + $s")")
  done
  echo "$wall $cpu"
}

read -r w_md5sum c_md5sum < <(measure_host md5sum "$file")
read -r w_openssl c_openssl < <(measure_host openssl md5 "$file")
d_md5sum=$(md5sum "$file" | cut -d' ' -f1)
d_openssl=$(openssl md5 -r "$file" | cut -d' ' -f1)

# The bench program times only the hashing call, and reads its own thread's CPU time.
winfile="Z:${file//\//\\}"
w_ours=""; c_ours=""; peak=0; peak0=0
for _ in $(seq $runs); do
  out=$(wine "$bench" "$winfile" | tr -d '\r')
  get() { awk -v k="$1" '$1 == k {print $2}' <<<"$out"; }
  w_ours=$(min "$w_ours" "$(get seconds)"); c_ours=$(min "$c_ours" "$(get cpu_seconds)")
  d_ours=$(get digest)
  p=$(get peak_working_set_kib); [ "$p" -gt "$peak" ] && peak=$p && peak0=$(get peak_working_set_kib_before)
  mem=$(get memory_mb_per_s); memcpu=$(get memory_cpu_mb_per_s)
done

printf 'file: %d bytes (%d MiB); best of %d runs each\n' "$bytes" "$mib" "$runs"
printf '%-26s %10s %10s  %s\n' "" "wall MB/s" "CPU MB/s" "digest"
printf '%-26s %10s %10s  %s\n' "GetFileMd5 (Wine, i686)" "$(mbps "$w_ours")" "$(mbps "$c_ours")" "$d_ours"
printf '%-26s %10s %10s  %s\n' "md5sum" "$(mbps "$w_md5sum")" "$(mbps "$c_md5sum")" "$d_md5sum"
printf '%-26s %10s %10s  %s\n' "openssl md5" "$(mbps "$w_openssl")" "$(mbps "$c_openssl")" "$d_openssl"
printf 'ratio GetFileMd5 / md5sum:      wall %s, CPU %s\n' \
  "$(ratio "$w_md5sum" "$w_ours")" "$(ratio "$c_md5sum" "$c_ours")"
printf 'ratio GetFileMd5 / openssl md5: wall %s, CPU %s\n' \
  "$(ratio "$w_openssl" "$w_ours")" "$(ratio "$c_openssl" "$c_ours")"
printf 'transform alone (64 MiB in memory, last run): wall %s MB/s, CPU %s MB/s\n' "$mem" "$memcpu"
printf 'peak working set of the hashing process: %s KiB (%s KiB before hashing)\n' "$peak" "$peak0"
printf 'load average: %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$d_ours" != "$d_md5sum" ] || [ "$d_openssl" != "$d_md5sum" ]; then
  echo "digests differ" >&2; exit 1
fi
