#!/usr/bin/env bash
# Builds the third-party libraries Debian does not ship for MinGW, from Debian's own
# source packages with Debian's patches applied: OpenSSL 3.0 and libcurl 7.88 as
# static i686 libraries, the thread library of the posix toolchain, the curl tool
# (a reference for the download benchmark), and the Duktape sources for the
# stand-in engine.
# BRINDLEX_DEPS_ARCH=x86_64 builds OpenSSL and libcurl for 64-bit Windows instead, into
# $BRINDLEX_DEPS/x86_64: the build that checks the same sources under 64-bit Wine on a
# machine whose kernel runs no 32-bit programs. That build is not the product.
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

# The x86_64 libraries are built like the i686 ones (for XP's calls, so both builds
# link the same way), each from a freshly unpacked copy of its source: OpenSSL builds
# inside its source tree, which holds the i686 build.
if [ "$arch" = x86_64 ]; then
  fresh_copy() { # name -> directory of a new unpacked copy
    local dir out="$src/$1-x86_64"
    dir=$(unpack "$1")
    rm -rf "$out"
    (cd "$src" && dpkg-source -x --skip-debianization "$(ls "$1"_*.dsc | head -n1)" "$out" \
       >/dev/null 2>&1 || dpkg-source -x "$(ls "$1"_*.dsc | head -n1)" "$out" >/dev/null)
    echo "$out"
  }
  if [ ! -f "$prefix/lib/libssl.a" ]; then
    d=$(fresh_copy openssl)
    log "building OpenSSL for x86_64 in $d"
    (cd "$d" && ./Configure mingw64 no-shared no-tests no-engine no-module $winnt_flags \
        --cross-compile-prefix=x86_64-w64-mingw32- CC=gcc-posix \
        --prefix="$prefix" --libdir=lib >/dev/null &&
     make -j"$jobs" build_libs >/dev/null && make install_dev >/dev/null)
  fi
  if [ ! -f "$prefix/lib/libcurl.a" ]; then
    d=$(fresh_copy curl)
    log "building libcurl for x86_64 in $d"
    tc="$BRINDLEX_DEPS/curl-toolchain-x86_64.cmake"
    cat >"$tc" <<TC
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 $prefix)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
TC
    cmake -S "$d" -B "$d/build-mingw" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tc" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
      -DBUILD_SHARED_LIBS=OFF -DCURL_USE_OPENSSL=ON -DOPENSSL_USE_STATIC_LIBS=ON \
      -DOPENSSL_ROOT_DIR="$prefix" -DHTTP_ONLY=ON -DBUILD_CURL_EXE=OFF \
      -DCURL_TARGET_WINDOWS_VERSION=0x0501 -DCMAKE_C_FLAGS="-DWINVER=0x0501" \
      -DCURL_USE_LIBSSH2=OFF -DCURL_ZLIB=OFF -DUSE_LIBIDN2=OFF -DCURL_USE_LIBPSL=OFF \
      -DENABLE_MANUAL=OFF -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$d/build-mingw" -j"$jobs" >/dev/null
    cmake --install "$d/build-mingw" >/dev/null
  fi
  log "done (x86_64)"
  exit 0
fi

# The toolchain's own static libwinpthread is built for Vista and imports
# GetTickCount64; built for XP it counts time with QueryPerformanceCounter. Installed
# under both names the compiler driver links (-lpthread) and the build's -L finds
# first, so every program of the build links this one.
if [ ! -f "$prefix/lib/libwinpthread.a" ]; then
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
  d=$(unpack openssl)
  log "building OpenSSL in $d"
  (cd "$d" && make distclean >/dev/null 2>&1 || true
   # The defines must come from here: crypto/threads_win.c includes windows.h before
   # OpenSSL's own default for the Windows version applies, and took SRW locks.
   cd "$d" && ./Configure mingw no-shared no-tests no-engine no-module $winnt_flags \
      --cross-compile-prefix=i686-w64-mingw32- CC=gcc-posix \
      --prefix="$prefix" --libdir=lib >/dev/null &&
   make -j"$jobs" build_libs >/dev/null && make install_dev >/dev/null)
fi

if [ ! -f "$prefix/lib/libcurl.a" ]; then
  d=$(unpack curl)
  # The library as the program needs it (HTTP only, nothing compressed, no IDN), and
  # the curl tool from the same build, static, as a like-for-like reference.
  log "building libcurl and curl.exe in $d"
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
    -DOPENSSL_ROOT_DIR="$prefix" -DHTTP_ONLY=ON -DBUILD_CURL_EXE=ON \
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
log "done"
