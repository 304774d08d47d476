#!/usr/bin/env bash
# Makes, once per folder, a test certificate authority and the server certificates of
# the download tests: one for 127.0.0.1 and one for another host name, both from the
# test authority, one for 127.0.0.1 from an authority nobody trusts, and one from an
# authority only the unit test program's built-in roots hold.
set -euo pipefail
dir=$1
mkdir -p "$dir"
exec 9>"$dir/.lock"
flock 9
[ -f "$dir/done-3" ] && exit 0
cd "$dir"
ossl() { openssl "$@" 2>/dev/null; }
authority() {  # name, common name
  ossl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -keyout "$1.key" -out "$1.pem" \
    -subj "/CN=$2" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign"
}
server() {  # name, authority, subjectAltName
  ossl req -newkey rsa:2048 -nodes -sha256 -keyout "$1.key" -out "$1.csr" -subj "/CN=$1"
  printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$3" \
    > "$1.ext"
  ossl x509 -req -sha256 -days 3650 -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" \
    -CAcreateserial -extfile "$1.ext" -out "$1.pem"
}
authority ca "Brindlex Download Test CA"
authority rogue-ca "Brindlex Untrusted Test CA"
authority builtin-ca "Brindlex Built-in Root Test CA"
server server ca "IP:127.0.0.1,DNS:localhost,DNS:files.test,DNS:files.direct.test"
server other-host ca "DNS:other-host.invalid"
server untrusted rogue-ca "IP:127.0.0.1,DNS:localhost"
server builtin-root builtin-ca "IP:127.0.0.1,DNS:localhost"
openssl x509 -in ca.pem -outform DER -out ca.der
touch done-3
