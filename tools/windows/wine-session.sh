#!/bin/sh
# Runs a command in a Wine session of its own: a private network namespace with only
# loopback (Wine's server owns the sockets, so sessions must not share a network), its own
# Wine prefix, its own Xvfb display, and a Wine server kept up for the whole command.
#
#   tools/windows/wine-session.sh PREFIX_DIR COMMAND [ARGS...]
#
# Inside, WINEPREFIX, DISPLAY and KORVAN_WINE_SESSION are set for COMMAND. The server and
# the display end with it, however it ends.
#
# The checks beside this file source it for what they share:
#   session_enter NAME SCRIPT KORVAN_EXE [ARGS...]   runs SCRIPT again in a session of its
#                                  own (prefix KORVAN_EXE/../../wine-NAME) unless inside one
#   check_begin LABEL              a scratch folder $work, removed on the way out with the
#                                  programs listed in $check_pids
#   fail TEXT                      LABEL FAILED: TEXT, the *.log files of $work, exit 1
#   wait_window PID TITLE [NOT]    the id of a shown window titled TITLE (other than NOT)
#                                  once one appears; fails if PID ends first
#   running PID                    whether PID has not ended yet
#   windows_path PATH              PATH as a Windows program names it
# Every call that can wait on another program is bounded by `timeout`: on a busy machine a
# check may be slow, never stuck.
set -eu

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
# "Did it appear at all", not how fast: a loaded 2-core machine can take a minute.
WINDOW_DEADLINE=${KORVAN_WINDOW_DEADLINE:-120}

session_enter() { # name, script, korvan.exe, arguments...
    [ -z "${KORVAN_WINE_SESSION:-}" ] || return 0
    name=$1
    shift
    exec "$(dirname "$0")/wine-session.sh" "$(dirname "$2")/../wine-$name" "$@"
}

check_begin() { # label
    check_label=$1
    check_pids=""
    work=$(mktemp -d)
    trap check_end EXIT
    trap 'exit 130' INT TERM
}

check_end() {
    for pid in $check_pids; do
        kill "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}

fail() {
    echo "$check_label FAILED: $*" >&2
    for f in "$work"/*.log; do
        [ -f "$f" ] && { echo "--- $(basename "$f")" >&2; cat "$f" >&2; }
    done
    exit 1
}

running() { # pid
    state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -c1) || return 1
    [ -n "$state" ] && [ "$state" != Z ]
}

wait_window() { # pid, title, id to pass over
    window_t0=$(date +%s)
    while :; do
        # Never an empty or partial id: xdotool given one waits for ever.
        for id in $(timeout 20 xdotool search --onlyvisible --name "$2" 2>/dev/null); do
            case $id in
            '' | *[!0-9]*) ;;
            "${3:-}") ;;
            *)
                echo "$id"
                return 0
                ;;
            esac
        done
        running "$1" || fail "the program ended before a window \"$2\" appeared"
        [ $(($(date +%s) - window_t0)) -lt "$WINDOW_DEADLINE" ] \
            || fail "no window \"$2\" appeared within $WINDOW_DEADLINE s"
        sleep 0.2
    done
}

windows_path() { # unix path
    timeout 120 "$WINE" winepath -w "$1" </dev/null | tr -d '\r'
}

# Sourced by a check: only the functions above.
[ "$(basename "$0")" = wine-session.sh ] || return 0

if [ "${1:-}" != "--inside" ]; then
    [ $# -ge 2 ] || { echo "usage: $0 PREFIX_DIR COMMAND [ARGS...]" >&2; exit 2; }
    if [ "$(id -u)" -eq 0 ]; then
        exec unshare --net -- "$0" --inside "$@"
    fi
    exec unshare --net --map-root-user -- "$0" --inside "$@"
fi
shift
PREFIX_DIR=$1
shift
ip link set lo up

mkdir -p "$PREFIX_DIR"
export WINEPREFIX
WINEPREFIX=$(cd "$PREFIX_DIR" && pwd)
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko download prompts: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Qt 6.4 asks Direct3D 9 to describe the graphics card before it shows a main window (to
# place OpenGL windows on a multi-card PC); Wine answers by starting OpenGL, which maps
# Mesa's llvmpipe (libLLVM alone 55 MiB) into every panel. Nothing here draws with Direct3D.
export WINE_D3D_CONFIG="${WINE_D3D_CONFIG-renderer=no3d}"

# One session per prefix at a time: a second would share the first's Wine server.
exec 9>"$WINEPREFIX.lock"
timeout 1800 flock 9 || { echo "the Wine prefix $WINEPREFIX stayed in use" >&2; exit 1; }
# A server still up now is one a killed session left behind (its server outlives it).
timeout 60 "$WINESERVER" -k >/dev/null 2>&1 9>&- || true

# A display of its own: Xvfb picks a free number and tells it through a descriptor.
displayfile=$(mktemp)
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$displayfile" >/dev/null 2>&1 9>&- &
xvfb=$!
cleanup() {
    timeout 60 "$WINESERVER" -k >/dev/null 2>&1 || true
    kill "$xvfb" 2>/dev/null || true
    rm -f "$displayfile"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
t0=$(date +%s)
while [ ! -s "$displayfile" ]; do
    if [ $(($(date +%s) - t0)) -gt 60 ] || ! kill -0 "$xvfb" 2>/dev/null; then
        echo "Xvfb did not start" >&2
        exit 1
    fi
    sleep 0.1
done
DISPLAY=":$(cat "$displayfile")"
export DISPLAY

if [ ! -f "$WINEPREFIX/.korvan-ready" ]; then
    # What a set-up cut short left behind would only half work.
    rm -rf "$WINEPREFIX/drive_c" "$WINEPREFIX/dosdevices" "$WINEPREFIX"/*.reg \
        "$WINEPREFIX/.update-timestamp"
    echo "Creating the Wine prefix $WINEPREFIX" >&2
    if ! timeout 900 "$WINE" wineboot -i >/dev/null 2>&1 9>&- \
        || ! timeout 300 "$WINESERVER" -w; then
        echo "the Wine prefix $WINEPREFIX could not be made" >&2
        exit 1
    fi
    touch "$WINEPREFIX/.korvan-ready"
fi
# A panel that a session ended by force left its one-panel lock behind, naming its process
# number; a new Wine server hands the same numbers out again in the same order, so the next
# panel would find "its" process alive and refuse to start.
rm -f "$WINEPREFIX"/drive_c/users/*/korvan.lock
# One server for the whole session, not one per program. Wine's own services start with
# the first program and outlive it: start them here, away from the output pipes of the
# programs to come (ctest would wait for those pipes to close).
"$WINESERVER" -p </dev/null >/dev/null 2>&1 9>&-
if ! timeout 300 "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 9>&-; then
    echo "Wine did not start in $WINEPREFIX" >&2
    exit 1
fi
export KORVAN_WINE_SESSION=1
"$@" 9>&-
