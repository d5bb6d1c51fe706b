#!/bin/sh
# Builds libmosquitto for 64-bit Windows (MinGW-w64) with TLS, from Debian's own
# openssl and mosquitto sources, once. The result lives outside the clone, keyed by the
# versions and options, and is reused when complete. Prints the install folder on its last
# line of standard output.
#
#   tools/windows/build-mosquitto.sh     build if missing, print the folder
#   KORVAN_CACHE_DIR=/some/where ...     cache elsewhere (default ~/.cache/korvan)
#   JOBS=N ...                           parallel jobs (default 2)
set -eu

# Bookworm's own versions. When the archive moves on and these are gone from it, raise them
# (apt-cache showsrc openssl mosquitto): that is a new key and a new build.
OPENSSL_DEBIAN=3.0.20-1~deb12u2
MOSQUITTO_DEBIAN=2.0.11-1.2+deb12u2
OPENSSL_VERSION=${OPENSSL_DEBIAN%%-*}
MOSQUITTO_VERSION=${MOSQUITTO_DEBIAN%%-*}
HERE=$(cd "$(dirname "$0")" && pwd)
TOOLCHAIN=$(cd "$HERE/../../cmake" && pwd)/mingw-w64.cmake
CACHE=${KORVAN_CACHE_DIR:-$HOME/.cache/korvan}
JOBS=${JOBS:-2}

# The libraries only. The folders OpenSSL reads its configuration, engines and modules from
# are compiled in: left to the build's prefix they would name, on Windows, a folder on the
# current drive that any user may create. OpenSSL's own Windows default is writable only
# by administrators.
OPENSSL_OPTIONS="mingw64 --cross-compile-prefix=x86_64-w64-mingw32- --libdir=lib shared
no-tests"
OPENSSL_DIRS="C:/Program Files/Common Files/SSL"
# The panel drives the library from one thread through Qt's event loop, so it needs none
# of the library's own threads (which on Windows want pthreads-win32 at a fixed path).
MOSQUITTO_OPTIONS="-DCMAKE_BUILD_TYPE=Release -DWITH_TLS=ON -DWITH_TLS_PSK=OFF
-DWITH_THREADING=OFF -DWITH_BROKER=OFF -DWITH_APPS=OFF -DWITH_CLIENTS=OFF -DWITH_PLUGINS=OFF
-DDOCUMENTATION=OFF -DWITH_CJSON=OFF -DWITH_LIB_CPP=OFF -DWITH_SOCKS=OFF -DWITH_SRV=OFF
-DWITH_STATIC_LIBRARIES=OFF -DWITH_UNIX_SOCKETS=OFF"
HASH=$( (echo "$OPENSSL_DEBIAN $MOSQUITTO_DEBIAN"; echo "$OPENSSL_OPTIONS $OPENSSL_DIRS"
    echo "$MOSQUITTO_OPTIONS"; cat "$TOOLCHAIN") | sha256sum | cut -c1-12)
KEY=mosquitto-$MOSQUITTO_VERSION-openssl-$OPENSSL_VERSION-mingw64-$HASH
PREFIX=$CACHE/$KEY
STAMP=$PREFIX/.korvan-complete

if [ -f "$STAMP" ]; then
    echo "$PREFIX"
    exit 0
fi

PACKAGES="dpkg-dev cmake ninja-build perl make
gcc-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64"

mkdir -p "$CACHE"
LOG=$CACHE/$KEY.log
LOCK=$CACHE/$KEY.lock

# One build at a time per key; a second caller waits and then reuses the result.
exec 9>"$LOCK"
flock 9
if [ -f "$STAMP" ]; then
    echo "$PREFIX"
    exit 0
fi

echo "libmosquitto $MOSQUITTO_VERSION with OpenSSL $OPENSSL_VERSION for Windows is not cached" \
    "yet: building it into $PREFIX" >&2
echo "(5 to 15 minutes on 2 cores; log: $LOG)" >&2
START=$(date +%s)
echo "--- $(date -u +%Y-%m-%dT%H:%M:%SZ) start" >>"$LOG"

# shellcheck source=tools/windows/debian-source.sh
. "$HERE/debian-source.sh"
# shellcheck disable=SC2086 # one word per package
korvan_source_packages "$LOG" $PACKAGES

# The build happens in a folder of its own and the result moves into place only when
# complete, so an interrupted build leaves nothing that looks usable; the next run
# resumes it where it stopped.
WORK=$CACHE/$KEY.build
STAGE=$WORK/stage
mkdir -p "$WORK"
cd "$WORK"
for package in "openssl=$OPENSSL_DEBIAN" "mosquitto=$MOSQUITTO_DEBIAN"; do
    name=${package%%=*}
    [ ! -f "$WORK/.$name-source-ready" ] || continue
    rm -rf "$WORK/$name-src"
    mkdir "$WORK/$name-src"
    # dpkg-source applies Debian's patch series while unpacking.
    (cd "$WORK/$name-src" && apt-get source -qq "$package") >>"$LOG" 2>&1 || {
        echo "apt-get source $package failed (see $LOG); is it still in the archive?" >&2
        exit 1
    }
    touch "$WORK/.$name-source-ready"
done
OPENSSL_SRC=$(find "$WORK/openssl-src" -mindepth 1 -maxdepth 1 -type d -name 'openssl-*')
MOSQUITTO_SRC=$(find "$WORK/mosquitto-src" -mindepth 1 -maxdepth 1 -type d -name 'mosquitto-*')

T0=$(date +%s)
# OpenSSL's own make goes on where it stopped.
if [ ! -f "$WORK/.openssl-done" ]; then
    cd "$OPENSSL_SRC"
    if [ ! -f Makefile ]; then
        # shellcheck disable=SC2086 # OPENSSL_OPTIONS is a list of words
        nice -n 19 ./Configure $OPENSSL_OPTIONS --prefix="$STAGE" >>"$LOG" 2>&1 \
            || { echo "OpenSSL configure failed (see $LOG)" >&2; exit 1; }
    fi
    # The compiled-in folders as make variables, the same for building and installing.
    set -- OPENSSLDIR="$OPENSSL_DIRS" ENGINESDIR="$OPENSSL_DIRS/engines-3" \
        MODULESDIR="$OPENSSL_DIRS/ossl-modules"
    # install_dev: the libraries, import libraries and headers, without the openssl program.
    { nice -n 19 make -j "$JOBS" build_libs "$@" && make install_dev "$@"; } >>"$LOG" 2>&1 \
        || { echo "OpenSSL build failed (see $LOG)" >&2; exit 1; }
    touch "$WORK/.openssl-done"
fi
T1=$(date +%s)

if [ ! -f "$WORK/mosquitto-build/build.ninja" ]; then
    # FindOpenSSL on a MinGW target looks only under the toolchain's root and wants the
    # import libraries by these names.
    # shellcheck disable=SC2086 # MOSQUITTO_OPTIONS is a list of words
    nice -n 19 cmake -S "$MOSQUITTO_SRC" -B "$WORK/mosquitto-build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_INSTALL_PREFIX="$STAGE" \
        -DOPENSSL_INCLUDE_DIR="$STAGE/include" \
        -DLIB_EAY="$STAGE/lib/libcrypto.dll.a" -DLIB_EAY_RELEASE="$STAGE/lib/libcrypto.dll.a" \
        -DSSL_EAY="$STAGE/lib/libssl.dll.a" -DSSL_EAY_RELEASE="$STAGE/lib/libssl.dll.a" \
        $MOSQUITTO_OPTIONS >>"$LOG" 2>&1 \
        || { echo "libmosquitto configure failed (see $LOG)" >&2; exit 1; }
fi
nice -n 19 cmake --build "$WORK/mosquitto-build" -j "$JOBS" >>"$LOG" 2>&1 \
    || { echo "libmosquitto build failed (see $LOG)" >&2; exit 1; }
cmake --install "$WORK/mosquitto-build" >>"$LOG" 2>&1
# Its install step leaves the import library behind.
cp "$WORK/mosquitto-build/lib/libmosquitto.dll.a" "$STAGE/lib/"
T2=$(date +%s)

# The licence texts the installer ships, from the sources themselves.
mkdir -p "$STAGE/licences"
cp "$OPENSSL_SRC/LICENSE.txt" "$STAGE/licences/openssl-LICENSE.txt"
cp "$MOSQUITTO_SRC/edl-v10" "$STAGE/licences/mosquitto-edl-v10.txt"
cp "$MOSQUITTO_SRC/LICENSE.txt" "$STAGE/licences/mosquitto-LICENSE.txt"
END=$(date +%s)

{
    echo "mosquitto=$MOSQUITTO_VERSION"
    echo "mosquitto_debian_version=$MOSQUITTO_DEBIAN"
    echo "openssl=$OPENSSL_VERSION"
    echo "openssl_debian_version=$OPENSSL_DEBIAN"
    echo "openssl_seconds=$((T1 - T0))"
    echo "mosquitto_seconds=$((T2 - T1))"
    echo "total_seconds=$((END - START))"
    echo "built=$(date -u +%Y-%m-%dT%H:%M:%SZ)"
} >"$STAGE/.korvan-complete"
rm -rf "$PREFIX"
mv "$STAGE" "$PREFIX"
cd "$CACHE"
rm -rf "$(readlink -f "$WORK")" "$WORK"
echo "libmosquitto for Windows ready in $((END - START)) s: $PREFIX" >&2
cat "$PREFIX/.korvan-complete" >>"$LOG"
echo "$PREFIX"
