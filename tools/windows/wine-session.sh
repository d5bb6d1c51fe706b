#!/bin/sh
# Runs a command in a Wine session of its own: a private network namespace with only
# loopback (Wine's server owns the sockets, so sessions must not share a network), its own
# Wine prefix, its own Xvfb display, and a Wine server kept up for the whole command.
#
#   tools/windows/wine-session.sh PREFIX_DIR COMMAND [ARGS...]
#
# Inside, WINEPREFIX, DISPLAY and KORVAN_WINE_SESSION are set for COMMAND.
set -eu

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

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
ip link set lo up

mkdir -p "$PREFIX_DIR"
export WINEPREFIX
WINEPREFIX=$(cd "$PREFIX_DIR" && pwd)
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko download prompts: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# A display of its own: Xvfb picks a free number and tells it through a descriptor.
displayfile=$(mktemp)
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$displayfile" >/dev/null 2>&1 &
xvfb=$!
cleanup() {
    "$WINESERVER" -k >/dev/null 2>&1 || true
    kill "$xvfb" 2>/dev/null || true
    rm -f "$displayfile"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
tries=0
while [ ! -s "$displayfile" ]; do
    tries=$((tries + 1))
    if [ "$tries" -gt 300 ] || ! kill -0 "$xvfb" 2>/dev/null; then
        echo "Xvfb did not start" >&2
        exit 1
    fi
    sleep 0.1
done
export DISPLAY=":$(cat "$displayfile")"

if [ ! -f "$WINEPREFIX/.korvan-ready" ]; then
    echo "Creating the Wine prefix $WINEPREFIX" >&2
    "$WINE" wineboot -i >/dev/null 2>&1
    "$WINESERVER" -w
    touch "$WINEPREFIX/.korvan-ready"
fi
# One server for the whole session, not one per program. Wine's own services start with
# the first program and outlive it: start them here, away from the output pipes of the
# programs to come (ctest would wait for those pipes to close).
"$WINESERVER" -p </dev/null >/dev/null 2>&1
"$WINE" cmd /c exit </dev/null >/dev/null 2>&1
export KORVAN_WINE_SESSION=1
"$@"
