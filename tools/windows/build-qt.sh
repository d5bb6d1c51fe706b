#!/bin/sh
# Builds Qt for 64-bit Windows (MinGW-w64) from Debian's own qt6-base source, once.
# The result lives outside the clone, keyed by Qt version and options, and is reused
# when complete. Prints the install folder on its last line of standard output.
#
#   tools/windows/build-qt.sh            build if missing, print the folder
#   KORVAN_CACHE_DIR=/some/where ...     cache elsewhere (default ~/.cache/korvan)
set -eu

QT_VERSION=6.4.2
HERE=$(cd "$(dirname "$0")" && pwd)
TOOLCHAIN=$(cd "$HERE/../../cmake" && pwd)/mingw-w64.cmake
CACHE=${KORVAN_CACHE_DIR:-$HOME/.cache/korvan}
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

# Only what the panel, the simulator and the tests need; Qt's own copies of the
# third-party libraries, since Debian has no Windows builds of them.
# tabletevent is off because Debian's tarball lacks the wintab headers it needs;
# direct2d must stay on or the windows platform plugin does not link; dynamicgl must go
# with opengl or the plugin's window code does not compile.
OPTIONS="-DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
-DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
-DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF
-DFEATURE_xml=OFF -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF -DFEATURE_jpeg=OFF
-DFEATURE_icu=OFF -DFEATURE_zstd=OFF -DFEATURE_openssl=OFF -DFEATURE_tabletevent=OFF
-DFEATURE_dynamicgl=OFF
-DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF
-DFEATURE_system_png=OFF -DFEATURE_system_freetype=OFF"
HASH=$( (echo "$QT_VERSION"; echo "$OPTIONS"; cat "$TOOLCHAIN") | sha256sum | cut -c1-12)
PREFIX=$CACHE/qt-$QT_VERSION-mingw64-$HASH
STAMP=$PREFIX/.korvan-complete

if [ -f "$STAMP" ]; then
    echo "$PREFIX"
    exit 0
fi

PACKAGES="dpkg-dev cmake ninja-build perl qt6-base-dev qt6-base-dev-tools
g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64"

mkdir -p "$CACHE"
LOG=$CACHE/qt-$QT_VERSION-mingw64-$HASH.log
LOCK=$CACHE/qt-$QT_VERSION-mingw64-$HASH.lock

# One build at a time per key; a second caller waits and then reuses the result.
exec 9>"$LOCK"
flock 9
if [ -f "$STAMP" ]; then
    echo "$PREFIX"
    exit 0
fi

echo "Qt $QT_VERSION for Windows is not cached yet: building it into $PREFIX" >&2
echo "(about 20 minutes on 2 cores; log: $LOG)" >&2
START=$(date +%s)
echo "--- $(date -u +%Y-%m-%dT%H:%M:%SZ) start" >>"$LOG"

# shellcheck source=tools/windows/debian-source.sh
. "$HERE/debian-source.sh"
# shellcheck disable=SC2086 # one word per package
korvan_source_packages "$LOG" $PACKAGES

# The build happens in a folder of its own and the result moves into place only when
# complete, so an interrupted build leaves nothing that looks usable; the next run
# resumes it where it stopped.
WORK=$CACHE/qt-$QT_VERSION-mingw64-$HASH.build
mkdir -p "$WORK"
cd "$WORK"
if [ ! -f "$WORK/.source-ready" ]; then
    find -H "$WORK" -mindepth 1 -maxdepth 1 -exec rm -rf {} +
    # dpkg-source applies Debian's patch series while unpacking.
    apt-get source -qq "qt6-base=$(dpkg-query -W -f='${Version}' qt6-base-dev)" \
        >>"$LOG" 2>&1 || apt-get source -qq qt6-base >>"$LOG" 2>&1
    touch "$WORK/.source-ready"
fi
SRC=$(find -H "$WORK" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
[ -n "$SRC" ] || { echo "apt-get source qt6-base produced no source tree (see $LOG)" >&2; exit 1; }
if [ -f "$SRC/debian/patches/series" ]; then
    echo "Debian patches applied: $(grep -c . "$SRC/.pc/applied-patches" 2>/dev/null || echo 0)" \
        "of $(grep -Evc '^[[:space:]]*(#|$)' "$SRC/debian/patches/series")" >>"$LOG"
fi
LAUNCHER=""
command -v ccache >/dev/null && LAUNCHER="-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"

T0=$(date +%s)
# A build that was interrupted goes on where it stopped (the build re-runs CMake itself
# when it must).
if [ ! -f "$WORK/build/build.ninja" ]; then
    # shellcheck disable=SC2086 # LAUNCHER and OPTIONS are lists of words
    nice -n 19 cmake -S "$SRC" -B "$WORK/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
        -DCMAKE_INSTALL_PREFIX="$PREFIX" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        $LAUNCHER $OPTIONS >>"$LOG" 2>&1 || { echo "Qt configure failed (see $LOG)" >&2; exit 1; }
fi
T1=$(date +%s)
nice -n 19 cmake --build "$WORK/build" -j "$JOBS" >>"$LOG" 2>&1 \
    || { echo "Qt build failed (see $LOG)" >&2; exit 1; }
T2=$(date +%s)
rm -rf "$WORK/stage"
cmake --install "$WORK/build" --prefix "$WORK/stage" >>"$LOG" 2>&1
END=$(date +%s)

{
    echo "qt=$QT_VERSION"
    echo "source=$(basename "$SRC")"
    # The installer's licence notes name the Debian version the libraries came from.
    echo "debian_version=$(dpkg-parsechangelog -l "$SRC/debian/changelog" -S Version)"
    echo "configure_seconds=$((T1 - T0))"
    echo "build_seconds=$((T2 - T1))"
    echo "total_seconds=$((END - START))"
    echo "built=$(date -u +%Y-%m-%dT%H:%M:%SZ)"
} >"$WORK/stage/.korvan-complete"
rm -rf "$PREFIX"
mv "$WORK/stage" "$PREFIX"
cd "$CACHE"
rm -rf "$(readlink -f "$WORK")" "$WORK"
echo "Qt for Windows ready in $((END - START)) s: $PREFIX" >&2
cat "$PREFIX/.korvan-complete" >>"$LOG"
echo "$PREFIX"
