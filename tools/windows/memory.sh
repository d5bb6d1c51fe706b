#!/bin/sh
# Resident memory and start-up time (to the window shown) of the Windows panel under Wine,
# beside a plain Qt window and the panel's own message box (which a bad option shows when
# there is no console), all of the same build: the median of 3 starts each, and whether
# Mesa's libLLVM is mapped. Each twice: with Wine's Direct3D on OpenGL, as a new prefix has
# it, and without (renderer=no3d), as the sessions here run. A measurement, not a test.
#
#   tools/windows/memory.sh KORVAN_EXE
set -eu
[ $# -eq 1 ] || { echo "usage: $0 KORVAN_EXE" >&2; exit 2; }
# shellcheck source=tools/windows/wine-session.sh
. "$(dirname "$0")/wine-session.sh"
session_enter memory "$0" "$@"
check_begin MEMORY
KORVAN=$1
BIN=$(cd "$(dirname "$KORVAN")" && pwd)
RUNS=${KORVAN_MEMORY_RUNS:-3}

# The plain window: a top-level QWidget and nothing else, built against the same Qt.
qt=$(sed -n 's|^Qt6_DIR:PATH=\(.*\)/lib/cmake/Qt6$|\1|p' "$BIN/../CMakeCache.txt")
[ -d "$qt/include/QtWidgets" ] || fail "no Qt for Windows named in $BIN/../CMakeCache.txt"
cat >"$work/plain.cpp" <<'EOF'
#include <QApplication>
#include <QWidget>
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Korvan"));
    window.resize(552, 480);
    window.show();
    return app.exec();
}
EOF
x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -mwindows -I"$qt/include" \
    -I"$qt/include/QtCore" -I"$qt/include/QtGui" -I"$qt/include/QtWidgets" \
    "$work/plain.cpp" -o "$BIN/korvan-plain-window.exe" -L"$qt/lib" -lQt6EntryPoint \
    -lQt6Widgets -lQt6Gui -lQt6Core -lshell32 >"$work/compile.log" 2>&1 \
    || fail "the plain window did not build"
trap 'check_end; rm -f "$BIN/korvan-plain-window.exe"' EXIT

median() { # numbers, one a line
    sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

# One start: milliseconds to the window shown, then resident KiB once it has settled, and
# whether libLLVM is mapped.
start_once() { # exe, arguments...
    exe=$1
    shift
    path=$(windows_path "$exe")
    # As Explorer starts it: with nothing to write to, a bad option shows the box.
    t0=$(date +%s%N)
    timeout 300 "$WINE" cmd /c start "" /wait "$path" "$@" </dev/null \
        >"$work/run.log" 2>&1 &
    run=$!
    check_pids=$run
    wait_window "$run" '^Korvan$' >/dev/null || exit 1
    t1=$(date +%s%N)
    # Let it finish painting before reading what it holds.
    sleep 3
    pid=$(pgrep -n -x "$(basename "$exe" | cut -c1-15)")
    rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status")
    llvm=no
    grep -q 'libLLVM' "/proc/$pid/maps" && llvm=yes
    kill "$pid" "$run" 2>/dev/null || true
    wait "$run" 2>/dev/null || true
    # The next start must not find this one's window.
    tries=0
    while [ -n "$(timeout 20 xdotool search --onlyvisible --name '^Korvan$' 2>/dev/null)" ]; do
        tries=$((tries + 1))
        [ "$tries" -le 120 ] || fail "a window titled Korvan stayed after its program ended"
        sleep 0.5
    done
    echo "$(((t1 - t0) / 1000000)) $rss $llvm"
}

measure() { # label, exe, arguments...
    label=$1
    shift
    : >"$work/runs"
    run_number=0
    while [ "$run_number" -lt "$RUNS" ]; do
        start_once "$@" >>"$work/runs"
        run_number=$((run_number + 1))
    done
    ms=$(cut -d' ' -f1 "$work/runs" | median)
    kib=$(cut -d' ' -f2 "$work/runs" | median)
    printf '%-38s %6s ms %6s MiB  libLLVM %s  (%s)\n' "$label" "$ms" $((kib / 1024)) \
        "$(cut -d' ' -f3 "$work/runs" | sort -u | tr '\n' ' ' | sed 's/ $//')" \
        "$(cut -d' ' -f1-2 "$work/runs" | tr '\n' ',' | sed 's/,$//')"
}

echo "median of $RUNS starts: to the window shown, resident (each run: ms KiB)"
for config in renderer=gl renderer=no3d; do
    export WINE_D3D_CONFIG=$config
    measure "panel, $config" "$KORVAN"
    measure "plain Qt window, $config" "$BIN/korvan-plain-window.exe"
    measure "message box (--bogus), $config" "$KORVAN" --bogus
done
