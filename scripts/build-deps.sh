#!/usr/bin/env bash
# Builds the third-party libraries Debian does not ship for MinGW, from Debian's own
# source packages with Debian's patches applied: OpenSSL 3.0 and libcurl 7.88 as
# static i686 libraries, the thread library of the posix toolchain, the curl tool
# (a reference for the download benchmark), and the Duktape sources for the
# stand-in engine.
# BRINDLEX_DEPS_ARCH=x86_64 builds OpenSSL and libcurl for 64-bit Windows instead, into
# $BRINDLEX_DEPS/x86_64, for the build that checks the same sources under 64-bit Wine
# on a machine whose kernel runs no 32-bit programs. That build is not the product.
#
# Everything is built for Windows XP (NT 5.1). The headers of MinGW-w64 default to
# Windows 10, and a library built that way names Vista's calls in the program's
# import table (SRW locks, GetTickCount64, BCryptGenRandom, inet_pton), which XP's
# loader refuses before the program runs.
set -euo pipefail
: "${BRINDLEX_DEPS:?}"
log() { printf '[deps] %s\n' "$*" >&2; }
jobs=$(nproc)
src="$BRINDLEX_DEPS/src"
arch=${BRINDLEX_DEPS_ARCH:-i686}
prefix="$BRINDLEX_DEPS/$arch"
mkdir -p "$src" "$prefix/lib"

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

winnt_flags="-D_WIN32_WINNT=0x0501 -DWINVER=0x0501"
host=$arch-w64-mingw32
case $arch in
  i686) openssl_target=mingw processor=x86 curl_tool=ON ;;
  x86_64) openssl_target=mingw64 processor=AMD64 curl_tool=OFF ;;
  *) log "unknown architecture $arch"; exit 2 ;;
esac

# The source to build in: i686 builds in the unpacked tree itself; x86_64 in a freshly
# unpacked copy of its own, since OpenSSL builds inside its source tree, which holds
# the i686 build.
source_for() { # name -> directory
  local out="$src/$1-$arch"
  if [ "$arch" = i686 ]; then unpack "$1"; return; fi
  unpack "$1" >/dev/null
  rm -rf "$out"
  (cd "$src" && dpkg-source -x --skip-debianization "$(ls "$1"_*.dsc | head -n1)" "$out" \
     >/dev/null 2>&1 || dpkg-source -x "$(ls "$1"_*.dsc | head -n1)" "$out" >/dev/null)
  echo "$out"
}

# The toolchain's own static libwinpthread is built for Vista and imports
# GetTickCount64; built for XP it counts time with QueryPerformanceCounter. Installed
# under both names the compiler driver links (-lpthread) and the build's -L finds
# first, so every program of the build links this one. (The 64-bit check build, which
# never runs on XP, keeps the toolchain's.)
if [ "$arch" = i686 ] && [ ! -f "$prefix/lib/libwinpthread.a" ]; then
  d=$(unpack mingw-w64)
  log "building winpthreads in $d"
  b="$d/mingw-w64-libraries/winpthreads/build-i686"
  rm -rf "$b" && mkdir -p "$b"
  (cd "$b" && ../configure --host=i686-w64-mingw32 CC=i686-w64-mingw32-gcc-posix \
      --disable-shared --enable-static CFLAGS="-O2 $winnt_flags" >/dev/null &&
   make -j"$jobs" >/dev/null)
  cp "$b/.libs/libwinpthread.a" "$prefix/lib/libwinpthread.a"
  cp "$b/.libs/libwinpthread.a" "$prefix/lib/libpthread.a"
fi

if [ ! -f "$prefix/lib/libssl.a" ] && [ ! -f "$prefix/lib64/libssl.a" ]; then
  d=$(source_for openssl)
  log "building OpenSSL for $arch in $d"
  (cd "$d" && make distclean >/dev/null 2>&1 || true
   # The defines must come from here: crypto/threads_win.c includes windows.h before
   # OpenSSL's own default for the Windows version applies, and took SRW locks.
   cd "$d" && ./Configure $openssl_target no-shared no-tests no-engine no-module $winnt_flags \
      --cross-compile-prefix=$host- CC=gcc-posix \
      --prefix="$prefix" --libdir=lib >/dev/null &&
   make -j"$jobs" build_libs >/dev/null && make install_dev >/dev/null)
fi

if [ ! -f "$prefix/lib/libcurl.a" ]; then
  d=$(source_for curl)
  # The library as the program needs it (HTTP only, nothing compressed, no IDN), and
  # for i686 the curl tool from the same build, static, as a like-for-like reference.
  log "building libcurl for $arch in $d"
  tc="$BRINDLEX_DEPS/curl-toolchain-$arch.cmake"
  cat >"$tc" <<TC
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR $processor)
set(CMAKE_C_COMPILER $host-gcc-posix)
set(CMAKE_RC_COMPILER $host-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$host $prefix)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
TC
  rm -rf "$d/build-mingw"
  cmake -S "$d" -B "$d/build-mingw" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tc" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DCURL_USE_OPENSSL=ON -DOPENSSL_USE_STATIC_LIBS=ON \
    -DOPENSSL_ROOT_DIR="$prefix" -DHTTP_ONLY=ON -DBUILD_CURL_EXE=$curl_tool \
    -DCURL_TARGET_WINDOWS_VERSION=0x0501 -DCMAKE_C_FLAGS="-DWINVER=0x0501" \
    -DCMAKE_EXE_LINKER_FLAGS="-static -L$prefix/lib" \
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
log "done ($arch)"
