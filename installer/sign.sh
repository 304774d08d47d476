#!/bin/sh
# Signs a Windows program in place: Authenticode with SHA-256, by osslsigncode, with the
# certificate and key in $BRINDLEX_SIGN_PKCS12 whose password is in the file
# $BRINDLEX_SIGN_PASSWORD_FILE, and an RFC 3161 time stamp from
# $BRINDLEX_SIGN_TIMESTAMP_URL when that is set.
# usage: sign.sh <file>
set -eu
file=$1
signed=$file.signing
: "${BRINDLEX_SIGN_PKCS12:?names the PKCS#12 file}"
: "${BRINDLEX_SIGN_PASSWORD_FILE:?names the file holding its password}"
set -- sign -pkcs12 "$BRINDLEX_SIGN_PKCS12" -readpass "$BRINDLEX_SIGN_PASSWORD_FILE" \
  -h sha256 -n Brindlex -in "$file" -out "$signed"
if [ -n "${BRINDLEX_SIGN_TIMESTAMP_URL:-}" ]; then
  set -- "$@" -ts "$BRINDLEX_SIGN_TIMESTAMP_URL"
fi
rm -f "$signed"
if ! osslsigncode "$@" >"$signed.log" 2>&1; then
  cat "$signed.log" >&2
  rm -f "$signed" "$signed.log"
  echo "sign.sh: could not sign $file" >&2
  exit 1
fi
rm -f "$signed.log"
mv "$signed" "$file"
