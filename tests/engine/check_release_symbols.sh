#!/usr/bin/env bash
# The release's symbol file names the program's code by function, file and line: a
# crash line inside wWinMain, as the program logs it, read back by the symbolizer (the
# 32-bit name carries the stdcall decoration, the 64-bit one none).
# Usage: check_release_symbols.sh <nm> <brindlex.dbg> <symbolize.sh>
set -euo pipefail
address=$("$1" "$2" | awk '$3 == "_wWinMain@16" || $3 == "wWinMain" { print $1 }')
base=$("${1%nm}objdump" -p "$2" | awk '$1 == "ImageBase" { print $2 }')
offset=$(printf '0x%X' $((0x$address - 0x$base + 16)))
log=$(mktemp); trap 'rm -f "$log"' EXIT
printf '%s\r\n' "unhandled exception 0xC0000005 at brindlex.exe+$offset on thread 1" \
  "stack frame 0: brindlex.exe+$offset" "stack ends after 1 frames: the thread's first frame" >"$log"
"$3" "$log" "$2"
