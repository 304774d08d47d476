#!/usr/bin/env bash
# Brings a Debian 12 machine to the point where the program and its tests build:
# cross compiler, Wine (32- and 64-bit), Xvfb, CMake, and static i686 builds of
# OpenSSL and libcurl made from Debian's own source packages. Idempotent: a second
# run only checks and returns. Everything it builds lands in a versioned cache
# outside the work tree ($BRINDLEX_DEPS, default /var/cache/brindlex/deps-v2).
set -euo pipefail

DEPS_VERSION=v2
export BRINDLEX_DEPS=${BRINDLEX_DEPS:-/var/cache/brindlex/deps-$DEPS_VERSION}
export DEBIAN_FRONTEND=noninteractive
log() { printf '[setup] %s\n' "$*"; }

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(
  mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 xvfb xdotool x11-apps x11-utils imagemagick
  cmake ninja-build nlohmann-json3-dev googletest dpkg-dev python3 openssl curl
  perl make ca-certificates locales mount node-typescript
  nsis osslsigncode linux-perf strace
  chromium chromium-driver python3-selenium
)

# The archive answers "File has unexpected size ... Mirror sync in progress?" for an
# index while it is being updated; apt-get update then fails as a whole although
# every other index arrived. Try a few times with a growing pause, then go on with
# whatever indexes apt has: the packages needed are usually in them.
failed_indexes=""
refresh_indexes() {
  local attempt pause=8 out
  for attempt in 1 2 3 4; do
    log "apt-get update (attempt $attempt of 4)"
    out=$(as_root apt-get update -qq 2>&1) && { failed_indexes=""; return 0; }
    failed_indexes=$(printf '%s\n' "$out" | sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' | sort -u)
    printf '%s\n' "$out" | grep -E '^(E|W):' | sed 's/^/[setup]   /' >&2 || true
    [ $attempt = 4 ] && break
    log "retrying in ${pause}s"
    sleep $pause
    pause=$(( pause * 2 ))
  done
  log "going on with the package indexes apt has; these could not be fetched:"
  printf '[setup]   %s\n' ${failed_indexes:-"(apt-get named none)"}
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

need_src=0
[ -f "$BRINDLEX_DEPS/.done" ] || need_src=1

if [ ${#missing[@]} -gt 0 ] || [ $need_src = 1 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "enabling the i386 architecture"
    as_root dpkg --add-architecture i386
  fi
  src_list=/etc/apt/sources.list.d/brindlex-src.sources
  if [ ! -f "$src_list" ]; then
    log "enabling Debian source packages"
    as_root tee "$src_list" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  fi
  refresh_indexes
fi

if [ ${#missing[@]} -gt 0 ]; then
  log "installing: ${missing[*]}"
  install() { as_root apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}"; }
  # Without one architecture's index of the security archive, a library of both
  # architectures (libssl3 for amd64 and i386, say) has different candidates, which
  # apt cannot install side by side. Taking both from the release's own suite, which
  # apt has whole, keeps them in step; a later upgrade brings the security fixes.
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if ! install && ! { [ -n "$failed_indexes" ] && [ -n "$codename" ] &&
        log "retrying with the candidates of '$codename' alone, as an index is missing" &&
        install -t "$codename"; }; then
    if [ -n "$failed_indexes" ]; then
      log "could not install the packages above; these package indexes could not be fetched:"
      printf '[setup]   %s\n' $failed_indexes
      log "the archive is probably being updated: wait a few minutes and run the same command again"
    else
      log "could not install the packages above (apt-get's messages are above)"
    fi
    exit 1
  fi
fi

# Wine names Unix files in the Linux locale's character set: without the test
# locales installed, non-ASCII file names fail under LC_ALL=en_US/zh_CN.UTF-8.
need_locales=0
for loc in en_US zh_CN; do
  if ! locale -a 2>/dev/null | grep -qix "$loc.utf8"; then
    as_root sed -i "s/^# *$loc.UTF-8 UTF-8/$loc.UTF-8 UTF-8/" /etc/locale.gen
    need_locales=1
  fi
done
if [ $need_locales = 1 ]; then
  log "generating the test locales"
  as_root locale-gen >/dev/null
fi

if [ $need_src = 1 ]; then
  "$(dirname "$0")/build-deps.sh"
  touch "$BRINDLEX_DEPS/.done"
fi
# A machine whose kernel runs no 32-bit programs checks a 64-bit build of the same
# sources instead (scripts/env.sh), which needs the libraries built for x86_64 too.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1 && [ ! -f "$BRINDLEX_DEPS/.done-x86_64" ]; then
  log "this machine runs no 32-bit programs: building the libraries for x86_64 as well"
  BRINDLEX_DEPS_ARCH=x86_64 "$(dirname "$0")/build-deps.sh"
  touch "$BRINDLEX_DEPS/.done-x86_64"
fi
log "ready (deps in $BRINDLEX_DEPS)"
