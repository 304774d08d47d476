#!/usr/bin/env bash
# A crash report as a stack of functions, files and lines: from a log's crash lines or
# from a minidump. Usage: scripts/symbolize.sh FILE [brindlex.dbg] (details: symbolize.py).
exec python3 "$(dirname "$0")/symbolize.py" "$@"
