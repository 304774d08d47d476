#!/usr/bin/env bash
# Where the download benchmark's time goes: each contender of scripts/bench-download.sh
# fetches the same file twice more, once under `perf record -a -g` (CPU time by what
# was running) and once recording its system calls, and tests/bench/profile_download.py
# prints the figures per GiB side by side.
# Needs perf (linux-perf) and the rights to record the whole machine (root).
# Usage: scripts/profile-download.sh [build folder] [file size in MiB, default 1024]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
mib=${2:-1024}
source "$root/scripts/download-contenders.sh"
command -v perf >/dev/null || { echo "perf is missing: run scripts/setup.sh" >&2; exit 1; }

work=$build/profile-download
mkdir -p "$work"
source_file=$work/source-${mib}MiB.bin
[ -f "$source_file" ] || head -c $((mib * 1048576)) /dev/urandom > "$source_file"
cat "$source_file" > /dev/null
bytes=$((mib * 1048576))

ports=$(mktemp "$work/ports.XXXXXX"); rm -f "$ports"
python3 "$root/tests/tools/download_server.py" --ports-file "$ports" --file "$source_file" &
server=$!
out_dir=$work
[ -d /dev/shm ] && out_dir=$(mktemp -d /dev/shm/brindlex-profile.XXXXXX)
trap 'kill $server 2>/dev/null || true; [ "$out_dir" != "$work" ] && rm -rf "$out_dir"' EXIT
for _ in $(seq 100); do [ -f "$ports" ] && break; sleep 0.1; done
source "$ports"; rm -f "$ports"
url="http://127.0.0.1:$BRINDLEX_DL_HTTP/file"

# The prefix's wineserver: the one whose working folder is named after the prefix.
server_dir=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
wineserver_pid=0
for pid in $(pgrep -x wineserver64 || pgrep -x wineserver || true); do
  [[ $(readlink "/proc/$pid/cwd") == */"$server_dir" ]] && wineserver_pid=$pid
done

mbs() { awk '$1 == "MB/s" { print $2; exit } /^[0-9.]+$/ { printf "%.1f\n", $1 / 1e6; exit }'; }
wine_run=$root/scripts/wine-exec.sh
profile() {  # name comm arch command...
  local name=$1 comm=$2 arch=$3; shift 3
  local rate
  rate=$(perf record -q -a -g -o "$work/cpu-$name.data" -- "$@" 2>/dev/null | tr -d '\r' | mbs)
  rm -f "$out_dir"/*.bin
  perf record -q -e raw_syscalls:sys_enter -e raw_syscalls:sys_exit \
    -o "$work/sys-$name.data" -- "$@" >/dev/null 2>&1
  rm -f "$out_dir"/*.bin
  contenders+=("$name,$comm,$arch,$work/cpu-$name.data,$work/sys-$name.data,$rate")
  echo "profiled $name ($rate MB/s while recorded)" >&2
}

contenders=()
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
profile linux-curl curl 64 curl -s -o "$out_dir/linux.bin" -w '%{speed_download}\n' "$url"
profile curl.exe curl.exe 32 "$wine_run" "$curl_exe" -s -o "$out_dir/curl-exe.bin" \
  -w '%{speed_download}\n' "$url"
profile ceiling recv_ceiling.exe 32 "$wine_run" "$ceiling_exe" "$url"
profile program download_bench.exe 32 "$wine_run" "$bench_exe" "$url" "$out_dir/program.bin"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
python3 "$root/tests/bench/profile_download.py" --bytes "$bytes" \
  --wineserver "$wineserver_pid" --sender "$server" "${contenders[@]}"
