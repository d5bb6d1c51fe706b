#!/bin/sh
# The Windows build, cross-compiled here with MinGW-w64 and proven under Wine.
#
#   tools/windows/build.sh build     korvan.exe, korvan-sim.exe and their DLLs in
#                                    $BUILD/windows/bin                 (make windows)
#   tools/windows/build.sh test      the test suite under Wine, plus the end-to-end
#                                    check of the panel                 (make windows-test)
#   tools/windows/build.sh package   $BUILD/windows/korvan-setup.exe, installed, checked
#                                    and uninstalled under Wine        (make windows-package)
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD:-build}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
OUT=$BUILD/windows
HOST=$BUILD/windows-host
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
MODE=${1:-build}

# What the cross build and its checks need besides what build-qt.sh installs.
PACKAGES="cmake ninja-build g++ qt6-base-dev fonts-dejavu-core iproute2 util-linux
wine wine64 fonts-wine nsis xvfb xauth xdotool xclip imagemagick
mosquitto openssl libmosquitto-dev"
# shellcheck disable=SC2086 # one word per package
"$ROOT/tools/install-packages.sh" $PACKAGES

QT=$("$ROOT/tools/windows/build-qt.sh" | tail -n 1)
MOSQUITTO=$("$ROOT/tools/windows/build-mosquitto.sh" | tail -n 1)
LAUNCHER=""
command -v ccache >/dev/null && LAUNCHER="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$ROOT}"

# The end-to-end check drives the Windows panel with the Linux simulator, at the controls'
# centres that the Linux screenshot tool prints.
host_sim() {
    cmake -S "$ROOT" -B "$HOST" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DKORVAN_BUILD_TESTS=OFF $LAUNCHER >/dev/null
    cmake --build "$HOST" -j "$JOBS" --target korvan-sim korvan-screenshot
}

configure() {
    # shellcheck disable=SC2086 # LAUNCHER is empty or one word
    # Qt's own toolchain file puts its prefix on the cross find root and then loads ours.
    cmake -S "$ROOT" -B "$OUT" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$QT/lib/cmake/Qt6/qt.toolchain.cmake" \
        -DQT_CHAINLOAD_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DCMAKE_BUILD_TYPE=Release -DKORVAN_WERROR=ON -DKORVAN_BUILD_TESTS="$1" \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$ROOT/tools/windows/wine-run.sh" \
        -DKORVAN_HOST_SIM="$HOST/bin/korvan-sim" -DKORVAN_MOSQUITTO_DIR="$MOSQUITTO" \
        $LAUNCHER >/dev/null
}

timed() { # label, command...
    label=$1
    shift
    t0=$(date +%s)
    "$@"
    echo "$label: $(($(date +%s) - t0)) s"
}

case $MODE in
build)
    configure ON
    timed "Windows build" cmake --build "$OUT" -j "$JOBS" \
        --target korvan korvan-sim korvan-runtime
    echo "Windows programs: $OUT/bin/korvan.exe, $OUT/bin/korvan-sim.exe"
    ;;
test)
    host_sim
    configure ON
    timed "Windows build with tests" cmake --build "$OUT" -j "$JOBS"
    timed "Windows tests under Wine" "$ROOT/tools/windows/wine-session.sh" "$OUT/wine" \
        ctest --test-dir "$OUT" --output-on-failure -j "$JOBS" --timeout 600
    ;;
package)
    host_sim
    configure ON
    cmake --build "$OUT" -j "$JOBS" --target korvan korvan-sim korvan-runtime
    (cd "$OUT" && timed "Installer" cpack -G NSIS -C Release)
    echo "installer: $OUT/korvan-setup.exe, $(du -k "$OUT/korvan-setup.exe" | cut -f1) KiB"
    timed "Installer check under Wine" "$ROOT/tools/windows/check-package.sh" \
        "$OUT/korvan-setup.exe" "$HOST/bin/korvan-sim" "$OUT/form1-windows-installed.png"
    ;;
*)
    echo "usage: $0 build|test|package" >&2
    exit 2
    ;;
esac
