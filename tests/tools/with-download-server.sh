#!/usr/bin/env bash
# with-download-server.sh <work folder> <trust_root_ca.exe> <command...>
# Runs the command with the download tests' loopback server running: makes the test
# certificates once, trusts the test authority in $WINEPREFIX, starts the server and
# exports its ports (BRINDLEX_DL_*) to the command.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$1 trust=$2; shift 2
mkdir -p "$work"
"$here/make-test-certs.sh" "$work/certs"
"$here/../../scripts/wine-exec.sh" "$trust" "$work/certs/ca.der"

ports=$(mktemp "$work/ports.XXXXXX"); rm -f "$ports"
python3 "$here/download_server.py" --ports-file "$ports" --certs "$work/certs" &
server=$!
trap 'kill $server 2>/dev/null || true; rm -f "$ports"' EXIT
for _ in $(seq 100); do [ -f "$ports" ] && break; sleep 0.1; done
[ -f "$ports" ] || { echo "download test server did not start" >&2; exit 1; }
source "$ports"
"$@"
