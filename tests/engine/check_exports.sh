#!/usr/bin/env bash
# Checks a stand-in engine's export table with objdump: wkeInitializeEx plus every
# name of wke/wke_names.h, undecorated, minus the names given after the DLL.
# usage: check_exports.sh <objdump> <names header> <dll> [left-out name...]
set -euo pipefail
objdump=$1 header=$2 dll=$3; shift 3
expected=$(mktemp) actual=$(mktemp)
trap 'rm -f "$expected" "$actual"' EXIT
{
  echo wkeInitializeEx
  sed -n '/#define WKE_API_NAMES/,$p' "$header" | grep -o 'X([A-Za-z0-9_]*)' | sed 's/^X(\(.*\))$/\1/'
} | grep -vxF -f <(printf '%s\n' "$@" '') | sort > "$expected"
"$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' \
  | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort > "$actual"
if ! diff -u "$expected" "$actual"; then
  echo "export table of $dll differs from the expected names" >&2
  exit 1
fi
echo "$dll: $(wc -l < "$actual") exports, as expected"
