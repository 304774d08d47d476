#!/usr/bin/env bash
# Builds the third-party libraries Debian does not ship for MinGW, from Debian's own
# source packages with Debian's patches applied: OpenSSL 3.0 and libcurl 7.88 as
# static i686 libraries, plus the Duktape sources for the stand-in engine.
set -euo pipefail
: "${BRINDLEX_DEPS:?}"
log() { printf '[deps] %s\n' "$*" >&2; }
jobs=$(nproc)
src="$BRINDLEX_DEPS/src"
prefix="$BRINDLEX_DEPS/i686"
mkdir -p "$src" "$prefix"

unpack() { # name -> directory of the unpacked, patched source
  local name=$1 dir
  cd "$src"
  dir=$(find . -maxdepth 1 -type d -name "$name-[0-9]*" | head -n1)
  if [ -z "$dir" ]; then
    log "fetching source package $name"
    apt-get source --download-only -qq "$name" >/dev/null
    dpkg-source -x --skip-debianization "$(ls "$name"_*.dsc | head -n1)" >/dev/null 2>&1 ||
      dpkg-source -x "$(ls "$name"_*.dsc | head -n1)" >/dev/null
    dir=$(find . -maxdepth 1 -type d -name "$name-[0-9]*" | head -n1)
  fi
  echo "$src/${dir#./}"
}

if [ ! -f "$prefix/lib/libssl.a" ] && [ ! -f "$prefix/lib64/libssl.a" ]; then
  d=$(unpack openssl)
  log "building OpenSSL in $d"
  (cd "$d" && make distclean >/dev/null 2>&1 || true
   cd "$d" && ./Configure mingw no-shared no-tests no-engine no-module \
      --cross-compile-prefix=i686-w64-mingw32- CC=gcc-posix \
      --prefix="$prefix" --libdir=lib >/dev/null &&
   make -j"$jobs" build_libs >/dev/null && make install_dev >/dev/null)
fi

if [ ! -f "$prefix/lib/libcurl.a" ]; then
  d=$(unpack curl)
  log "building libcurl in $d"
  tc="$BRINDLEX_DEPS/curl-toolchain.cmake"
  cat >"$tc" <<TC
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32 $prefix)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
TC
  rm -rf "$d/build-mingw"
  cmake -S "$d" -B "$d/build-mingw" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tc" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DCURL_USE_OPENSSL=ON -DOPENSSL_USE_STATIC_LIBS=ON \
    -DOPENSSL_ROOT_DIR="$prefix" -DHTTP_ONLY=ON -DBUILD_CURL_EXE=OFF \
    -DCURL_USE_LIBSSH2=OFF -DCURL_ZLIB=OFF -DUSE_LIBIDN2=OFF -DCURL_USE_LIBPSL=OFF \
    -DENABLE_MANUAL=OFF -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$d/build-mingw" -j"$jobs" >/dev/null
  cmake --install "$d/build-mingw" >/dev/null
fi

if [ ! -f "$BRINDLEX_DEPS/duktape/duktape.c" ]; then
  d=$(unpack duktape)
  log "copying Duktape sources from $d"
  mkdir -p "$BRINDLEX_DEPS/duktape"
  cp "$d"/src/duktape.c "$d"/src/duktape.h "$d"/src/duk_config.h "$BRINDLEX_DEPS/duktape/"
fi
log "done"
